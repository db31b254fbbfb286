// End-to-end latency of the engine with its threads running, in real time: a
// tone switched on in the IQ stream is found again in the audio of the answers
// (the frames the per-block entry returns) and at the 48000 Hz sound-card
// output. This thread plays the socket thread: it hands the engine one IQ
// packet per packet interval; another thread takes the sound-card output as
// soon as frames appear (a host's own output buffer comes on top).
//
// Receiver 0 in USB, 100..2900 Hz, a 1000 Hz tone at -20 dBFS after silence;
// the onset is where the output first reaches half the tone's steady
// amplitude, and a frame counts from the moment it is there, plus its place in
// its block when the block plays from its arrival on. One iteration is one
// onset (about 1.2 s). Counters, ms:
// - answer, answer_max: IQ onset -> onset in the answers (mean, worst);
// - out48k: IQ onset -> onset available at the 48000 Hz output;
// - inherent: group delay of the decimator and the band-pass, plus the AGC's
//   look-ahead with AGC on: what no thread arrangement can remove;
// - excess: answer - inherent (goal: 5 ms or less);
// - floor: inherent, plus one block of 200 frames at the working rate (a block
//   plays from the moment its last sample is in, so every frame waits the
//   block's length), plus one packet interval (the answer to the packet that
//   completes a block leaves while the receiver thread works on it; the next
//   answer is the first that can carry it): the least this thread layout
//   allows; above_floor: answer - floor.
#include "zorvaniDsp/Filters/AgcZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

using Sample = Ostrovix::complex<double>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRates[4] = {39062.5, 78125.0, 156250.0, 312500.0};
constexpr double kWorking = 39062.5;
constexpr double kOutput = 48000.0;
constexpr int kBlock = 200;
constexpr double kSilenceS = 0.6, kToneS = 0.3, kTailS = 0.3;
constexpr double kToneHz = 1000.0, kToneAmplitude = 0.1;
constexpr int kAgcMed = 3; // host AGC index of the "Med" preset

double seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

// Frames of one stream, each block stamped with the time it became available.
struct Stream {
    std::vector<double> left;
    std::vector<double> blockTime; // per frame: arrival of its block
    std::vector<int> place;        // per frame: index within its block
    void add(const Sample* frames, int n, double t)
    {
        for (int k = 0; k < n; ++k) {
            left.push_back(frames[k].re);
            blockTime.push_back(t);
            place.push_back(k);
        }
    }
    // Play time of the first frame at or after `from` (seconds of that
    // stream's frames counted from its start) that reaches half the steady
    // amplitude; -1 when none.
    double onset(double rate, double steadyFrom) const
    {
        const size_t steady = size_t(steadyFrom * rate);
        double amplitude = 0.0;
        for (size_t k = steady; k < left.size() && k < steady + size_t(0.1 * rate); ++k)
            amplitude = std::max(amplitude, std::abs(left[k]));
        for (size_t k = 0; k < left.size() && amplitude > 0.0; ++k)
            if (std::abs(left[k]) >= 0.5 * amplitude)
                return blockTime[k] + double(place[k]) / rate;
        return -1.0;
    }
};

void BM_Latency(benchmark::State& state)
{
    const double fs = kRates[state.range(0)];
    const bool agc = state.range(1) != 0;
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(fs);
    dsp.setRxEnable(1, false);
    dsp.setChannelEnable(0, 1, false);
    dsp.setMode(0, ReceiverZorvani::USB);
    dsp.setFilter(0, 100.0, 2900.0);
    dsp.setAgc(0, agc ? kAgcMed : 0);
    dsp.start();
    dsp.setSoundCardOutput(true);

    double inherent = dsp.receiver(0)->filterDelaySeconds();
    if (agc) {
        const zorvaniDsp::AgcParam med = dsp.agcPreset(kAgcMed - 1);
        AgcZorvani probe;
        probe.setSampleRate(kWorking);
        probe.setParameters(med.attack, med.decay, med.hang, true);
        inherent += probe.delayLength() / kWorking;
    }

    double answerSum = 0.0, answerMax = 0.0, outSum = 0.0;
    int measured = 0;
    for (auto _ : state) {
        Stream answers, output;
        std::mutex outputLock;
        std::atomic<bool> taking{true};
        std::thread taker([&] {
            CircularBuffer<Sample>& ring = *dsp.soundCardSource();
            std::vector<Sample> frames(ring.capacity());
            while (taking.load()) {
                const uint32_t n = ring.fill();
                if (n > 0 && ring.read(frames.data(), n)) {
                    std::lock_guard<std::mutex> guard(outputLock);
                    output.add(frames.data(), int(n), seconds(Clock::now()));
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        // Both streams are kept from the first packet with tone on, minus
        // what was already waiting in the engine: from there on the answers
        // are in the order the tone went in.
        const long silence = long(kSilenceS * fs / kBlock), tone = long(kToneS * fs / kBlock);
        const long total = silence + tone + long(kTailS * fs / kBlock);
        std::vector<Sample> block(kBlock), audio(kBlock);
        const Clock::time_point start = Clock::now();
        double onsetIq = 0.0, answersFrom = 0.0, outputFrom = 0.0;
        for (long p = 0; p < total; ++p) {
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>((p + 1) * kBlock / fs)));
            for (int k = 0; k < kBlock; ++k) {
                const long n = p * kBlock + k - silence * kBlock;
                const double ph = 2.0 * kPi * kToneHz * double(n) / fs;
                block[size_t(k)] = n >= 0 && p < silence + tone ? Sample{kToneAmplitude * std::cos(ph),
                                                                          kToneAmplitude * std::sin(ph)}
                                                                 : Sample{0.0, 0.0};
            }
            const double handed = seconds(Clock::now());
            if (p == silence) {
                // The tone starts with the first sample of this packet, which
                // the receiver took 199 sample periods before sending it.
                onsetIq = handed - (kBlock - 1) / fs;
                answersFrom = double(answers.left.size()) / kWorking;
                std::lock_guard<std::mutex> guard(outputLock);
                outputFrom = double(output.left.size()) / kOutput;
            }
            if (dsp.processBlock(block.data(), audio.data(), 0))
                answers.add(audio.data(), kBlock, seconds(Clock::now()));
        }
        taking.store(false);
        taker.join();

        const double answerOnset = answers.onset(kWorking, answersFrom + kToneS - 0.15);
        const double outputOnset = output.onset(kOutput, outputFrom + kToneS - 0.15);
        if (answerOnset < 0.0 || outputOnset < 0.0) {
            state.SkipWithError("no tone in the audio");
            break;
        }
        const double a = answerOnset - onsetIq;
        answerSum += a;
        answerMax = std::max(answerMax, a);
        outSum += outputOnset - onsetIq;
        ++measured;
    }
    dsp.setSoundCardOutput(false);
    dsp.stop();
    if (measured == 0)
        return;
    state.counters["answer"] = 1e3 * answerSum / measured;
    state.counters["answer_max"] = 1e3 * answerMax;
    state.counters["out48k"] = 1e3 * outSum / measured;
    state.counters["inherent"] = 1e3 * inherent;
    state.counters["excess"] = 1e3 * (answerSum / measured - inherent);
    const double floor = inherent + kBlock / kWorking + kBlock / fs;
    state.counters["floor"] = 1e3 * floor;
    state.counters["above_floor"] = 1e3 * (answerSum / measured - floor);
}
BENCHMARK(BM_Latency)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->ArgNames({"rate", "agc"})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
