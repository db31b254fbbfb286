#pragma once

#include "Scene.h"
#include "WfmTransmitter.h"

#include "OstrovixComplex.h"

#include <cstdint>
#include <vector>

namespace zorvani::sim {

// Deterministic pseudo-random numbers (xoshiro256**), seeded per generator.
class Random {
public:
    explicit Random(std::uint64_t seed);
    std::uint64_t next();
    double uniform();  // [0, 1)
    double gaussian(); // zero mean, unit variance

private:
    std::uint64_t m_s[4];
    double m_spare = 0.0;
    bool m_hasSpare = false;
};

// Complex baseband of a scene as one receiver sees it: tuned to a centre
// frequency, sampled at a rate. Every emitter keeps its own phase, so the
// output is continuous across blocks and across retuning; two blocks of
// 200 give exactly the output of one block of 400.
class SceneGenerator {
public:
    // salt distinguishes the random parts of several receivers of one scene.
    SceneGenerator(const Scene& scene, std::uint64_t salt);

    // centreHz: tuned frequency in Hz (>= 0); rateHz: sample rate in Hz (> 0).
    void setTuning(double centreHz, double rateHz);
    double centreHz() const { return m_centre; }
    double rateHz() const { return m_rate; }

    // Back to time zero with the same seed: the output repeats exactly.
    void reset();

    // New level (dBFS, <= 0; Noise: dBFS/Hz) of emitter `index` of the scene,
    // from the next sample on; phases and keying continue. Out-of-range
    // indexes are ignored.
    void setLevel(int index, double levelDbfs);

    // Writes n samples (full scale = amplitude 1.0). Allocates nothing.
    void generate(Ostrovix::complex<double>* out, int n);

private:
    struct Osc {
        double re = 1.0, im = 0.0, wr = 1.0, wi = 0.0;
        void setFrequency(double hz, double rate);
        // One sample on, with a first-order amplitude correction so the
        // rotator never drifts and the result does not depend on block size.
        void step()
        {
            const double r = re * wr - im * wi;
            const double i = re * wi + im * wr;
            const double g = 1.5 - 0.5 * (r * r + i * i);
            re = r * g;
            im = i * g;
        }
    };
    struct Source {
        Emitter e;
        double amplitude = 0.0;
        Osc carrier;      // at the emitter's offset from the centre
        Osc tone1, tone2; // modulating tones
        Osc ctcss;
        WfmTransmitter wfm;
        double phase = 0.0;      // FM phase, radians
        double keyPhase = 0.0;   // CW keying position, 0..1 per dot period
        std::int64_t nextImpulse = -1; // sample index of the next impulse, -1 before the first draw
        bool visible = false;
        Random random{0}; // each source draws its own numbers: block size never matters
    };

    void configure();
    void addSource(Source& s, Ostrovix::complex<double>* out, int n);

    Scene m_scene;
    std::uint64_t m_salt;
    double m_centre = 0.0;
    double m_rate = 39062.5;
    std::int64_t m_time = 0; // samples generated since reset
    std::vector<Source> m_sources;
};

} // namespace zorvani::sim
