// The panorama's spectra against references written out here: a naive DFT of
// the window defined independently, the averagers' closed forms, and the
// slope stretcher's interpolator run sample by sample.
#include "AllocationCounter.h"
#include "DspTestSupport.h"
#include "HostThreadPool.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"
#include "spectrum/SpectrumExpAverager.h"
#include "spectrum/SpectrumHistoryAverager.h"

#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace zorvaniddc;
using dsptest::kPi;
using dsptest::Signal;
using dsptest::operator+;
using Line = std::vector<float>;

namespace {

constexpr size_t kSize = 64;

double db(double power) { return 10.0 * std::log10(power + 1e-19); }

// Float dB values carry about 1e-5 dB of rounding at these magnitudes.
void compareDb(const Line& actual, const std::vector<double>& expected, double tolerance = 1e-3)
{
    QCOMPARE(actual.size(), expected.size());
    for (size_t k = 0; k < actual.size(); ++k)
        QVERIFY2(std::abs(actual[k] - expected[k]) <= tolerance, qPrintable(QString::number(k)));
}

// 0 linear, 1 RMS, 2 exponential.
std::unique_ptr<SpectrumAveragerAbstract> averager(int kind, size_t size = kSize, size_t count = 4)
{
    std::unique_ptr<SpectrumAveragerAbstract> a;
    if (kind == 0)
        a = std::make_unique<SpectrumLinearAverager>();
    else if (kind == 1)
        a = std::make_unique<SpectrumRmsAverager>();
    else
        a = std::make_unique<SpectrumExpAverager>();
    a->setSize(size);
    a->setAverageCount(count);
    return a;
}

Line readLine(SpectrumAveragerAbstract& a, size_t n = kSize)
{
    Line out(n, 12345.0f);
    a.read(out.data(), n);
    return out;
}

// Powers over seven decades; bin 0 is zero, so the floor shows too.
std::vector<Line> randomFrames(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(1e-6f, 10.0f);
    std::vector<Line> frames(static_cast<size_t>(count), Line(kSize));
    for (auto& f : frames) {
        for (float& v : f)
            v = dist(rng);
        f[0] = 0.0f;
    }
    return frames;
}

// A pool that only records jobs; the test runs them itself. Fixed storage, so
// submitting allocates nothing.
struct RecordingPool : ThreadPoolAbstract {
    bool submit(ThreadPoolItemAbstract* job) override
    {
        return accept && count < jobs.size() && (jobs[count++] = job);
    }
    void drain()
    {
        for (size_t i = 0; i < count; ++i)
            jobs[i]->run();
        count = 0;
    }
    std::array<ThreadPoolItemAbstract*, 4096> jobs{};
    size_t count = 0;
    bool accept = true;
};

// The window as the panorama defines it.
double windowCoefficient(int n, int length)
{
    const double x = 2.0 * kPi * n / (length - 1);
    return (0.3635819 - 0.4891775 * std::cos(x) + 0.1365995 * std::cos(2 * x) - 0.0106411 * std::cos(3 * x))
        / std::pow(10.0, -0.44);
}

// Power of a unit tone on a bin centre: |sum(w) / N|^2.
double tonePower(int n)
{
    double sum = 0;
    for (int t = 0; t < n; ++t)
        sum += windowCoefficient(t, n);
    return (sum / n) * (sum / n);
}

// A tone `bin` bins above 0 Hz.
Signal tone(int n, double bin, double amplitude = 1.0) { return dsptest::tone(n, bin / n, amplitude); }

struct Lines { Line panorama, waterfall; };

// Feeds `frame` and runs one job directly; returns the lines.
Lines frameOf(PanSpectrumZorvaniDDC& pan, const Signal& frame)
{
    pan.writeSamples(frame.data(), int(frame.size()));
    pan.run();
    Lines l;
    pan.getSpectrum(l.panorama, l.waterfall);
    return l;
}

int argMax(const Line& v) { return int(std::max_element(v.begin(), v.end()) - v.begin()); }

using Pan = std::unique_ptr<PanSpectrumZorvaniDDC>;

// A panorama switched on at `size` points; with a pool, a frame every 10 ms
// (without, the test runs the jobs itself).
Pan panorama(int size = 4096, ThreadPoolAbstract* pool = nullptr)
{
    Pan pan = std::make_unique<PanSpectrumZorvaniDDC>(pool, 1);
    pan->setOn(pan->setFftSize(size));
    pan->setFrameInterval(10);
    return pan;
}

// Starts a frame job in `pool` (a fresh ring, then blocks until one is taken).
bool queueJob(PanSpectrumZorvaniDDC& pan, RecordingPool& pool)
{
    const auto frame = tone(4096, 3);
    return QTest::qWaitFor([&] {
        pan.writeSamples(frame.data(), 4096);
        return pool.count > 0;
    }, 2000);
}

} // namespace

class TestSpectrum : public QObject {
    Q_OBJECT
private slots:
    // After every frame the line is the mean (linear) or the root of the mean
    // square (RMS) of the last `used` frames' powers; after reset the same
    // again. The exponential averager's state runs to P a / (1 - a); its line
    // is the state in dB lifted by offset + 8, and reset starts it from zero.
    void averagers()
    {
        const auto frames = randomFrames(40, 1);
        const int counts[][2] = {{4, 4}, {0, 1}, {100, 30}}; // requested, used
        for (int kind : {0, 1})
            for (const auto& c : counts) {
                auto a = averager(kind, kSize, size_t(c[0]));
                for (int round = 0; round < 2; ++round, a->reset())
                    for (int i = 0; i < int(frames.size()); ++i) {
                        a->write(frames[size_t(i)].data(), kSize);
                        const int first = std::max(0, i + 1 - c[1]);
                        std::vector<double> expected(kSize);
                        for (size_t k = 0; k < kSize; ++k) {
                            double sum = 0;
                            for (int j = first; j <= i; ++j)
                                sum += kind == 0 ? frames[size_t(j)][k] : std::pow(double(frames[size_t(j)][k]), 2);
                            expected[k] = db(kind == 0 ? sum / (i + 1 - first) : std::sqrt(sum / (i + 1 - first)));
                        }
                        compareDb(readLine(*a), expected);
                    }
            }
        const double rows[][3] = {{3, 0.760690, -9.975395}, {4, 0.767586, -10.3221}, {30, 0.946897, -24.6715},
                                  {0, 0.746897, -96.0 - (0.0076 + 0.2935 - 86.9735)}, {99, 0.946897, -24.6715}};
        const double p = 0.25;
        const Line frame(kSize, float(p));
        for (const auto& r : rows) {
            auto made = averager(2, kSize, size_t(r[0]));
            auto& a = static_cast<SpectrumExpAverager&>(*made);
            for (int i = 0; i < 401; ++i) // a^n falls below 1e-7 after a few hundred writes even for count 30
                a.write(frame.data(), kSize);
            const double state = p * r[1] / (1.0 - r[1]);
            for (size_t k = 0; k < kSize; ++k)
                QVERIFY2(std::abs(a.state(k) - state) < 1e-4 * state, qPrintable(QString::number(r[0])));
            compareDb(readLine(a), std::vector<double>(kSize, db(state) + r[2] + 8.0), 2e-3);
            a.reset();
            a.write(frame.data(), kSize);
            QVERIFY2(std::abs(a.state(0) - r[1] * p) < 1e-6, "one step from zero: a P");
        }
        // An averager without data reads -180 dB; a new count or a new size
        // start over, as reset does (the second rounds above).
        const auto one = randomFrames(1, 4);
        for (int kind : {0, 1}) {
            auto a = averager(kind);
            const Line empty(kSize, -180.0f);
            QCOMPARE(readLine(*a), empty);
            a->write(one[0].data(), kSize);
            a->setAverageCount(3);
            QCOMPARE(readLine(*a), empty);
            a->write(one[0].data(), kSize);
            a->setSize(kSize * 2);
            QCOMPARE(readLine(*a, kSize * 2), Line(kSize * 2, -180.0f));
        }
    }

    // A frame's line is the naive DFT of the windowed frame in dB.
    void lineMatchesDftInAnyBlocks()
    {
        const int n = 256;
        Pan pan = panorama(n);
        const Signal frame = dsptest::gaussian(n, 0.1 * std::sqrt(2.0), 11) + tone(n, 17.3, 0.5);
        const Lines l = frameOf(*pan, frame);
        for (int k = 0; k < n; ++k) {
            // The windowed frame's DFT over N, halves swapped (index N/2 is 0 Hz).
            std::complex<double> sum = 0;
            for (int t = 0; t < n; ++t)
                sum += std::complex<double>(frame[size_t(t)].re, frame[size_t(t)].im) * windowCoefficient(t, n)
                    * std::polar(1.0, -2.0 * kPi * double(k) * t / n);
            const double want = db(std::norm(sum / double(n)));
            const size_t bin = size_t((k + n / 2) % n);
            // Float transform of values near 1: within 0.01 dB down to -80 dB.
            QVERIFY2(want < -80.0 || std::abs(l.waterfall[bin] - want) < 0.01, qPrintable(QString::number(bin)));
            QVERIFY(std::abs(l.panorama[bin] - l.waterfall[bin]) < 1e-3); // linear averager after one frame
        }
        // The same stream written in any blocks gives the same lines.
        const Signal stream = dsptest::gaussian(5000, 0.3 * std::sqrt(2.0), 3);
        std::vector<Line> lines;
        for (int block : {200, 7, 5000}) {
            Pan pan = panorama(1024);
            pan->setWaterfallFilter(true);
            for (size_t at = 0; at < stream.size(); at += size_t(block))
                pan->writeSamples(stream.data() + at, int(std::min<size_t>(size_t(block), stream.size() - at)));
            Lines l = frameOf(*pan, {});
            l.panorama.insert(l.panorama.end(), l.waterfall.begin(), l.waterfall.end());
            lines.push_back(l.panorama);
        }
        QVERIFY(lines[1] == lines[0] && lines[2] == lines[0]);
    }

    // A frame needs a full FFT's worth of samples, new samples since the last
    // frame, and the panorama switched on.
    void frames()
    {
        PanSpectrumZorvaniDDC pan(nullptr, 0);
        QSignalSpy spy(&pan, &PanSpectrumZorvaniDDC::spectrum);
        const Signal block(200, dsptest::C{0.5, 0.0});
        auto step = [&](bool on, int samples, int frames) {
            pan.setOn(on);
            pan.writeSamples(block.data(), samples);
            pan.run();
            return spy.count() == frames;
        };
        for (int written = 0; written + 200 < 4096; written += 200)
            QVERIFY(step(true, 200, 0));
        QVERIFY(step(false, 200, 0));
        QVERIFY2(step(true, 0, 1) && step(true, 0, 1) && step(true, 200, 2), qPrintable(QString::number(spy.count())));
        // A larger FFT needs that many fresh samples; the frame is the newest
        // ones in time order: a continuous tone.
        QVERIFY(pan.setFftSize(8192) && pan.ringCapacity() == 8192);
        frameOf(pan, tone(4096, 0));
        QCOMPARE(spy.count(), 2);
        const Lines l = frameOf(pan, tone(8192, 64));
        QVERIFY(spy.count() == 3 && argMax(l.waterfall) == 4096 + 64);
        // Powers of two from 16 to 16384 are taken, others keep the size; a tone
        // lands on its bin at the window's level.
        for (int size : {0, -4096, 8, 6000, 32768, 16, 1024, 16384}) {
            const bool accepted = size == 16 || size == 1024 || size == 16384;
            Pan sized = panorama(2048);
            QCOMPARE(sized->setFftSize(size), accepted);
            const int used = accepted ? size : 2048, bin = used / 2 + used / 4;
            QCOMPARE(int(sized->ringCapacity()), std::max(used, 64));
            const Lines got = frameOf(*sized, tone(used, used / 4));
            const float peak = got.waterfall[size_t(bin)];
            QVERIFY2(argMax(got.waterfall) == bin && argMax(got.panorama) == bin && int(got.waterfall.size()) == used,
                     qPrintable(QString("size %1: peak at %2").arg(size).arg(argMax(got.waterfall))));
            QVERIFY2(std::abs(peak - db(tonePower(used))) < 0.01, qPrintable(QString::number(peak)));
        }
        // Count 2, frames of amplitude 1 and 3 at one bin: linear gives the mean
        // power (1 + 9) / 2, RMS sqrt of the mean squared power; the waterfall
        // filter runs state = a (state + P), lowered by 1.975 dB.
        const int n = 1024;
        Pan averaged = panorama(n), filtered = panorama(512);
        averaged->setAverageCount(2);
        const double p1 = tonePower(n), p2 = 9 * p1;
        const double expected[] = {(p1 + p2) / 2, std::sqrt((p1 * p1 + p2 * p2) / 2)};
        for (int type : {0, 1}) {
            averaged->setAveragerType(type);
            averaged->resetAccumulation();
            frameOf(*averaged, tone(n, 10, 1.0));
            const float got = frameOf(*averaged, tone(n, 10, 3.0)).panorama[size_t(n / 2 + 10)];
            QVERIFY2(std::abs(got - db(expected[type])) < 0.01, qPrintable(QString("type %1: %2").arg(type).arg(got)));
        }
        filtered->setWaterfallFilter(true);
        const double a = 0.74 + 3 * 0.0068965517;
        double state = 0;
        for (int i = 0; i < 5; ++i) {
            const float got = frameOf(*filtered, tone(512, -20)).waterfall[size_t(256 - 20)];
            state = a * (state + tonePower(512));
            QVERIFY2(std::abs(got - (db(state) - 1.975395)) < 0.01, qPrintable(QString::number(i)));
        }
    }

    // The middle bins, stretched over the whole line by the cubic Lagrange
    // interpolator run sample by sample; bins outside them must not leak in.
    void slopeStretch()
    {
        for (size_t n : {64, 1024, 4096, 16384}) {
            std::mt19937 rng(5);
            std::uniform_real_distribution<float> dist(-120.0f, 0.0f);
            const size_t m = size_t(std::floor(n * 0.9216 + 0.5)) + 2, s = (n - m) / 2 + 1;
            Line v(n);
            for (size_t k = 0; k < n; ++k)
                v[k] = k < s || k >= s + m ? 1e6f : dist(rng);
            std::vector<double> out;
            double phase = 0, h0 = 0, h1 = 0, h2 = 0, h3 = 0;
            for (size_t i = 0; i < m; ++i, phase -= 1.0 / m) {
                h0 = h1;
                h1 = h2;
                h2 = h3;
                h3 = v[s + i];
                for (; phase < 1.0 / m; phase += 1.0 / (n + 3)) {
                    const double t = phase * m - 1.0, c3 = (h1 - h2) / 2 + (h3 - h0) / 6, c1 = (h3 - h1) / 2 - c3;
                    out.push_back(((c3 * t + (h3 - h2) - c1 - c3) * t + c1) * t + h2);
                }
            }
            SlopeStretcher stretcher;
            QVERIFY(out.size() >= n + 3 && stretcher.stretch(v.data(), n));
            for (size_t k = 1; k < n; ++k)
                QVERIFY2(std::abs(v[k] - out[k + 3]) < 1e-4, qPrintable(QString("%1 bins, bin %2").arg(n).arg(k)));
            QCOMPARE(v[0], v[1]);
        }
        // Too short for the stretcher: refused, line untouched.
        SlopeStretcher small(64);
        for (size_t n : {16, 31}) {
            Line v(n, 3.0f);
            v[0] = 1.0f;
            QVERIFY2(!small.stretch(v.data(), n) && v[0] == 1.0f, qPrintable(QString::number(n)));
        }
        // A panorama hiding the slopes stretches its frame.
        Pan pan = panorama();
        pan->setHideSlopes(true);
        // A tone at +1500 bins: stretched by 4099/3777 about the centre.
        const Lines l = frameOf(*pan, tone(4096, 1500));
        QVERIFY(l.waterfall[0] == l.waterfall[1] && l.panorama[0] == l.panorama[1]);
        const double expected = 2048 + 1500 * 4099.0 / 3777.0;
        QVERIFY2(std::abs(argMax(l.waterfall) - expected) <= 3, qPrintable(QString::number(argMax(l.waterfall))));
    }

    // A refused submission is reported and the next accepted job still makes
    // a frame; the destructor waits for a queued job, and gives up (saying
    // so) on a pool that never runs it.
    void poolHandOff()
    {
        RecordingPool pool;
        pool.accept = false;
        Pan pan = panorama(4096, &pool);
        const auto frame = tone(4096, 3);
        pan->writeSamples(frame.data(), 4096);
        QTest::qWait(15);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("thread pool queue is full$"));
        pan->writeSamples(frame.data(), 200);
        QCOMPARE(pool.count, size_t(0));
        pool.accept = true;
        QSignalSpy spy(pan.get(), &PanSpectrumZorvaniDDC::spectrum);
        QVERIFY(queueJob(*pan, pool));
        pool.drain();
        QCOMPARE(spy.count(), 1);

        QVERIFY(queueJob(*pan, pool));
        std::atomic<bool> ran{false};
        std::thread worker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pool.drain();
            ran = true;
        });
        pan.reset();
        const bool ranBeforeDestroyed = ran.load();
        worker.join();
        QVERIFY2(ranBeforeDestroyed, "destructor returned while a job was still queued");

        pan = panorama(4096, &pool);
        QVERIFY(queueJob(*pan, pool));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("a queued frame job never ran$"));
        pan.reset();
    }

    void concurrentUse()
    {
        // A producer thread, the pool's workers and this thread (setters and
        // fetches) all at once; run under ThreadSanitizer as well.
        HostThreadPool pool(2, 16);
        Pan pan = panorama(4096, &pool);
        std::atomic<int> frames{0};
        connect(pan.get(), &PanSpectrumZorvaniDDC::spectrum, this, [&](uint) { ++frames; }, Qt::DirectConnection);
        std::atomic<bool> running{true};
        std::thread producer([&] {
            const auto block = tone(200, 9);
            for (; running; std::this_thread::sleep_for(std::chrono::microseconds(200)))
                pan->writeSamples(block.data(), 200);
        });
        Line p, w;
        const int sizes[] = {1024, 4096, 2048, 16384};
        for (int round = 0; round < 300; ++round) {
            pan->setAveragerType(round % 3);
            pan->setAverageCount(round % 7);
            pan->setWaterfallFilter(round % 2 == 0);
            pan->setHideSlopes(round % 3 == 0);
            QVERIFY(round % 10 || pan->setFftSize(sizes[(round / 10) % 4]));
            pan->getSpectrum(p, w);
            QVERIFY(p.size() == w.size() && std::count(std::begin(sizes), std::end(sizes), int(p.size())) == 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // The frames keep coming once the setters are quiet.
        const int seen = frames;
        QTRY_VERIFY_WITH_TIMEOUT(frames >= seen + 20, 60000);
        running = false;
        producer.join();
        pool.waitIdle();
    }

    // Once running nothing allocates: an averager refilling its history after
    // a restart; a frame with every averager's history full, waterfall filter
    // on or off; handing samples over, submissions to the pool included.
    void allocatesNothing()
    {
        for (int kind = 0; kind < 3; ++kind) {
            auto a = averager(kind, 4096, 30);
            Line frame(4096, 1.0f), out(4096);
            for (int i = 0; i < 30; ++i)
                a->write(frame.data(), frame.size());
            a->reset();
            testsupport::AllocationScope scope;
            for (int i = 0; i < 40; ++i) {
                a->write(frame.data(), frame.size());
                a->read(out.data(), out.size());
            }
            const auto allocations = scope.count(); // before the message allocates
            QVERIFY2(allocations == 0u, qPrintable(QString("averager %1: %2 allocations").arg(kind).arg(allocations)));
        }
        for (bool filter : {false, true}) {
            Pan pan = panorama();
            pan->setWaterfallFilter(filter);
            pan->setHideSlopes(true);
            pan->setAverageCount(30);
            const auto frame = tone(4096, 7);
            int frames = 0; // a spy would allocate per emission; a plain counter does not
            connect(pan.get(), &PanSpectrumZorvaniDDC::spectrum, this, [&](uint) { ++frames; }, Qt::DirectConnection);
            for (int i = 0; i < 93; ++i) {
                pan->setAveragerType(i / 31);
                frameOf(*pan, frame);
            }
            frames = 0;
            testsupport::AllocationScope scope;
            for (int i = 0; i < 5; ++i) {
                pan->writeSamples(frame.data(), 200);
                pan->run();
            }
            const auto allocations = scope.count();
            QVERIFY2(allocations == 0u && frames == 5,
                     qPrintable(QString("%1 allocations, %2 frames").arg(allocations).arg(frames)));
        }
        RecordingPool pool;
        Pan pan = panorama(4096, &pool);
        const auto block = tone(200, 1);
        pan->writeSamples(block.data(), 200);
        testsupport::AllocationScope scope;
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(60))
            pan->writeSamples(block.data(), 200);
        const auto allocations = scope.count();
        QVERIFY2(allocations == 0u && pool.count >= 2,
                 qPrintable(QString("%1 allocations, %2 submissions").arg(allocations).arg(pool.count)));
        pool.drain();
    }
};

QTEST_GUILESS_MAIN(TestSpectrum)
#include "tst_spectrum.moc"
