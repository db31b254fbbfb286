#include "AllocationCounter.h"
#include "HostThreadPool.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

using Sample = Ostrovix::complex<double>;

namespace {

// A pool that only records jobs; the test runs them itself. Fixed storage, so
// submitting allocates nothing.
class RecordingPool : public ThreadPoolAbstract {
public:
    bool submit(ThreadPoolItemAbstract* job) override
    {
        if (!accept || count >= jobs.size())
            return false;
        jobs[count++] = job;
        return true;
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

// The window as the panorama defines it, written out here independently.
double windowCoefficient(int n, int length)
{
    const double x = 2.0 * M_PI * n / (length - 1);
    return (0.3635819 - 0.4891775 * std::cos(x) + 0.1365995 * std::cos(2 * x) - 0.0106411 * std::cos(3 * x))
        / std::pow(10.0, -0.44);
}

std::vector<Sample> tone(int n, double binOffset, double amplitude = 1.0)
{
    std::vector<Sample> s(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const double ph = 2.0 * M_PI * binOffset * k / n;
        s[size_t(k)] = {amplitude * std::cos(ph), amplitude * std::sin(ph)};
    }
    return s;
}

// Naive DFT of the windowed frame, scaled by 1/N, in dB with the halves
// swapped (index N/2 is 0 Hz).
std::vector<double> referenceLine(const std::vector<Sample>& frame)
{
    const int n = int(frame.size());
    std::vector<double> out(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        std::complex<double> sum = 0;
        for (int t = 0; t < n; ++t) {
            const double w = windowCoefficient(t, n);
            sum += std::complex<double>(frame[size_t(t)].re * w, frame[size_t(t)].im * w)
                * std::polar(1.0, -2.0 * M_PI * double(k) * t / n);
        }
        sum /= double(n);
        out[size_t((k + n / 2) % n)] = 10.0 * std::log10(std::norm(sum) + 1e-19);
    }
    return out;
}

struct Lines {
    std::vector<float> panorama;
    std::vector<float> waterfall;
};

// Feeds `frame` and runs one job directly; returns the lines.
Lines frameOf(PanSpectrumZorvaniDDC& pan, const std::vector<Sample>& frame)
{
    pan.writeSamples(frame.data(), int(frame.size()));
    pan.run();
    Lines l;
    pan.getSpectrum(l.panorama, l.waterfall);
    return l;
}

int argMax(const std::vector<float>& v)
{
    return int(std::max_element(v.begin(), v.end()) - v.begin());
}

} // namespace

class TestPanSpectrum : public QObject {
    Q_OBJECT
private slots:
    void toneLandsOnItsBin_data();
    void toneLandsOnItsBin();
    void lineMatchesNaiveDft();
    void zeroFrameGivesFloor();
    void blockSplitDoesNotMatter();
    void noFrameBeforeNSamples();
    void offGivesNoFrame();
    void twoBlocksWithinIntervalGiveOneFrame();
    void transformRefusesBadInput();
    void fftSizeEdges_data();
    void fftSizeEdges();
    void fftSizeResizesRing();
    void frameIntervalClamps_data();
    void frameIntervalClamps();
    void averagerTypeClamps_data();
    void averagerTypeClamps();
    void averagerSelectionAndCount();
    void waterfallFilter();
    void stretchUsesMiddleBins_data();
    void stretchUsesMiddleBins();
    void stretchKeepsLinearRamp();
    void stretchRefusesShortLines();
    void stretchMatchesDirectInterpolator_data();
    void stretchMatchesDirectInterpolator();
    void hiddenSlopesInFrame();
    void refusedSubmissionIsReported();
    void destructionWaitsForQueuedJob();
    void destructionGivesUpOnDeadPool();
    void concurrentUse();
    void frameAllocatesNothing();
    void writeSamplesAllocatesNothing();
};

void TestPanSpectrum::toneLandsOnItsBin_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("offset");
    QTest::newRow("4096 +100") << 4096 << 100;
    QTest::newRow("4096 -100") << 4096 << -100;
    QTest::newRow("4096 dc") << 4096 << 0;
    QTest::newRow("1024 +511") << 1024 << 511;
    QTest::newRow("16384 +3000") << 16384 << 3000;
}

void TestPanSpectrum::toneLandsOnItsBin()
{
    QFETCH(int, size);
    QFETCH(int, offset);
    PanSpectrumZorvaniDDC pan(nullptr, 1);
    QVERIFY(pan.setFftSize(size));
    pan.setOn(true);
    const Lines l = frameOf(pan, tone(size, offset));
    QCOMPARE(int(l.waterfall.size()), size);
    QCOMPARE(argMax(l.waterfall), size / 2 + offset);
    QCOMPARE(argMax(l.panorama), size / 2 + offset);
    // Peak: |sum(w) / N|^2 for a unit tone on a bin centre.
    double sum = 0;
    for (int n = 0; n < size; ++n)
        sum += windowCoefficient(n, size);
    const double peakDb = 20.0 * std::log10(sum / size);
    QVERIFY2(std::abs(l.waterfall[size_t(size / 2 + offset)] - peakDb) < 0.01,
             qPrintable(QString("peak %1 dB, expected %2 dB").arg(l.waterfall[size_t(size / 2 + offset)]).arg(peakDb)));
}

void TestPanSpectrum::lineMatchesNaiveDft()
{
    const int n = 256;
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QVERIFY(pan.setFftSize(n));
    pan.setOn(true);
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 0.1);
    std::vector<Sample> frame = tone(n, 17.3, 0.5);
    for (Sample& s : frame) {
        s.re += noise(rng);
        s.im += noise(rng);
    }
    const Lines l = frameOf(pan, frame);
    const auto ref = referenceLine(frame);
    for (int k = 0; k < n; ++k) {
        // Float transform of values near 1: within 0.01 dB down to -80 dB.
        if (ref[size_t(k)] < -80.0)
            continue;
        QVERIFY2(std::abs(l.waterfall[size_t(k)] - ref[size_t(k)]) < 0.01,
                 qPrintable(QString("bin %1: %2 vs %3").arg(k).arg(l.waterfall[size_t(k)]).arg(ref[size_t(k)])));
    }
    // Linear averager after one frame: the same line.
    for (int k = 0; k < n; ++k)
        QVERIFY(std::abs(l.panorama[size_t(k)] - l.waterfall[size_t(k)]) < 1e-3);
}

void TestPanSpectrum::zeroFrameGivesFloor()
{
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    pan.setOn(true);
    const Lines l = frameOf(pan, std::vector<Sample>(4096, Sample{0.0, 0.0}));
    QCOMPARE(l.waterfall.size(), size_t(4096));
    for (float v : l.waterfall)
        QVERIFY2(std::abs(v + 190.0f) < 1e-3f, qPrintable(QString::number(v)));
}

void TestPanSpectrum::blockSplitDoesNotMatter()
{
    // The same stream in blocks of 200, of 7 and in one piece: same lines.
    const int n = 1024;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.3);
    std::vector<Sample> stream(5000);
    for (Sample& s : stream)
        s = {noise(rng), noise(rng)};
    std::vector<std::vector<float>> lines;
    for (int block : {200, 7, 5000}) {
        PanSpectrumZorvaniDDC pan(nullptr, 0);
        QVERIFY(pan.setFftSize(n));
        pan.setOn(true);
        pan.setWaterfallFilter(true);
        for (size_t at = 0; at < stream.size(); at += size_t(block))
            pan.writeSamples(stream.data() + at, int(std::min<size_t>(size_t(block), stream.size() - at)));
        pan.run();
        std::vector<float> p, w;
        pan.getSpectrum(p, w);
        p.insert(p.end(), w.begin(), w.end());
        lines.push_back(p);
    }
    QCOMPARE(lines[1], lines[0]);
    QCOMPARE(lines[2], lines[0]);
}

void TestPanSpectrum::noFrameBeforeNSamples()
{
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    pan.setOn(true);
    QSignalSpy spy(&pan, &PanSpectrumZorvaniDDC::spectrum);
    const std::vector<Sample> block(200, Sample{0.5, 0.0});
    int written = 0;
    while (written + 200 < 4096) {
        pan.writeSamples(block.data(), 200);
        written += 200;
        pan.run();
        QCOMPARE(spy.count(), 0);
    }
    pan.writeSamples(block.data(), 200);
    pan.run();
    QCOMPARE(spy.count(), 1);
    // Only new blocks make the next frame.
    pan.run();
    QCOMPARE(spy.count(), 1);
    pan.writeSamples(block.data(), 200);
    pan.run();
    QCOMPARE(spy.count(), 2);
}

void TestPanSpectrum::offGivesNoFrame()
{
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QSignalSpy spy(&pan, &PanSpectrumZorvaniDDC::spectrum);
    const std::vector<Sample> frame(4096, Sample{0.5, 0.0});
    pan.writeSamples(frame.data(), 4096);
    pan.run();
    QCOMPARE(spy.count(), 0);
    pan.setOn(true);
    pan.run();
    QCOMPARE(spy.count(), 1);
}

void TestPanSpectrum::twoBlocksWithinIntervalGiveOneFrame()
{
    HostThreadPool pool(2, 64);
    PanSpectrumZorvaniDDC pan(&pool, 1);
    pan.setOn(true);
    pan.setFrameInterval(40);
    QSignalSpy spy(&pan, &PanSpectrumZorvaniDDC::spectrum);
    const std::vector<Sample> fill = tone(4096, 5);
    pan.writeSamples(fill.data(), 4096);
    pool.waitIdle();
    const int before = spy.count();
    // Let the interval since the last possible submission run out.
    QTest::qWait(60);
    QElapsedTimer between;
    between.start();
    pan.writeSamples(fill.data(), 200);
    pan.writeSamples(fill.data() + 200, 200);
    const qint64 ms = between.elapsed();
    pool.waitIdle();
    if (ms >= 40)
        QSKIP("the two writes were more than one frame interval apart on this loaded machine");
    QCOMPARE(spy.count(), before + 1);
    QCOMPARE(spy.last().at(0).toUInt(), 1u);
    QCOMPARE(pool.refused(), 0u);
}

void TestPanSpectrum::transformRefusesBadInput()
{
    Spectrum32f fft;
    for (int size : {100, 8, 0}) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QString("^bool __cdecl Spectrum32f::init\\(int,bool,Window32f::Window\\)\\(%1\\): ")
                                                    .arg(size)));
        QVERIFY(!fft.init(size));
        QCOMPARE(fft.size(), 0);
    }
    QVERIFY(fft.init(64));
    QCOMPARE(fft.size(), 64);
    std::vector<Ostrovix::complex<float>> data(64, Ostrovix::complex<float>{1.0f, -1.0f});
    const auto before = data;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Spectrum32f::dFft.*\\(.*,32\\): Input parameters - error!$"));
    QVERIFY(!fft.dFft(data.data(), 32));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Spectrum32f::dFft.*,64\\): Input parameters - error!$"));
    QVERIFY(!fft.dFft(nullptr, 64));
    for (size_t k = 0; k < data.size(); ++k)
        QVERIFY(data[k].re == before[k].re && data[k].im == before[k].im);
    // A constant through the window: bin 0 holds the window's mean.
    QVERIFY(fft.dFft(data.data(), 64));
    double mean = 0;
    for (int n = 0; n < 64; ++n)
        mean += windowCoefficient(n, 64) / 64;
    QVERIFY2(std::abs(data[0].re - mean) < 1e-5 && std::abs(data[0].im + mean) < 1e-5, qPrintable(QString::number(data[0].re)));
}

void TestPanSpectrum::fftSizeEdges_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("3") << 3 << false;
    QTest::newRow("0") << 0 << false;
    QTest::newRow("-4096") << -4096 << false;
    QTest::newRow("8 (below 16)") << 8 << false;
    QTest::newRow("6000") << 6000 << false;
    QTest::newRow("32768") << 32768 << false;
    QTest::newRow("16") << 16 << true;
    QTest::newRow("8192") << 8192 << true;
    QTest::newRow("16384") << 16384 << true;
}

void TestPanSpectrum::fftSizeEdges()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QVERIFY(pan.setFftSize(2048));
    QCOMPARE(pan.setFftSize(size), accepted);
    QCOMPARE(int(pan.fftSize()), accepted ? size : 2048);
    QCOMPARE(int(pan.ringCapacity()), accepted ? std::max(size, 64) : 2048);
    // Still produces frames of the configured size.
    pan.setOn(true);
    const Lines l = frameOf(pan, tone(int(pan.fftSize()), 1));
    QCOMPARE(l.waterfall.size(), size_t(pan.fftSize()));
    QCOMPARE(argMax(l.waterfall), int(pan.fftSize()) / 2 + 1);
}

void TestPanSpectrum::fftSizeResizesRing()
{
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    pan.setOn(true);
    QSignalSpy spy(&pan, &PanSpectrumZorvaniDDC::spectrum);
    QCOMPARE(int(pan.ringCapacity()), 4096);
    QVERIFY(pan.setFftSize(8192));
    QCOMPARE(int(pan.ringCapacity()), 8192);
    // The resized ring needs 8192 fresh samples before a frame.
    const auto half = tone(4096, 0);
    pan.writeSamples(half.data(), 4096);
    pan.run();
    QCOMPARE(spy.count(), 0);
    // The frame is the newest 8192 samples in time order: a continuous tone.
    const auto full = tone(8192, 64);
    pan.writeSamples(full.data(), 8192);
    pan.run();
    QCOMPARE(spy.count(), 1);
    std::vector<float> p, w;
    pan.getSpectrum(p, w);
    QCOMPARE(w.size(), size_t(8192));
    QCOMPARE(argMax(w), 4096 + 64);
}

void TestPanSpectrum::frameIntervalClamps_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("expected");
    QTest::newRow("5") << 5 << 10;
    QTest::newRow("100") << 100 << 40;
    QTest::newRow("25") << 25 << 25;
    QTest::newRow("-1") << -1 << 10;
}

void TestPanSpectrum::frameIntervalClamps()
{
    QFETCH(int, ms);
    QFETCH(int, expected);
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QCOMPARE(pan.frameInterval(), 16);
    pan.setFrameInterval(ms);
    QCOMPARE(pan.frameInterval(), expected);
}

void TestPanSpectrum::averagerTypeClamps_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("expected");
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("7") << 7 << 2;
}

void TestPanSpectrum::averagerTypeClamps()
{
    QFETCH(int, type);
    QFETCH(int, expected);
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QCOMPARE(pan.averagerType(), 0);
    pan.setAveragerType(type);
    QCOMPARE(pan.averagerType(), expected);
}

void TestPanSpectrum::averagerSelectionAndCount()
{
    // Count 2, frames of amplitude 1 and 3 at one bin: linear gives the mean
    // power (1 + 9) / 2, RMS sqrt of the mean squared power.
    const int n = 1024;
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QVERIFY(pan.setFftSize(n));
    pan.setOn(true);
    pan.setAverageCount(2);
    QCOMPARE(pan.averageCount(), 2);
    double sum = 0;
    for (int t = 0; t < n; ++t)
        sum += windowCoefficient(t, n);
    const double g2 = (sum / n) * (sum / n);
    const int bin = n / 2 + 10;

    struct Row {
        int type;
        double expectedPower;
    };
    const double p1 = g2, p2 = 9 * g2;
    for (const Row& row : {Row{0, (p1 + p2) / 2}, Row{1, std::sqrt((p1 * p1 + p2 * p2) / 2)}}) {
        pan.setAveragerType(row.type);
        pan.resetAccumulation();
        frameOf(pan, tone(n, 10, 1.0));
        const Lines l = frameOf(pan, tone(n, 10, 3.0));
        const double want = 10 * std::log10(row.expectedPower);
        QVERIFY2(std::abs(l.panorama[size_t(bin)] - want) < 0.01,
                 qPrintable(QString("type %1: %2 vs %3").arg(row.type).arg(l.panorama[size_t(bin)]).arg(want)));
    }
    pan.setAverageCount(100);
    QCOMPARE(pan.averageCount(), 30);
}

void TestPanSpectrum::waterfallFilter()
{
    const int n = 512;
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    QVERIFY(pan.setFftSize(n));
    pan.setOn(true);
    pan.setWaterfallFilter(true);
    double sum = 0;
    for (int t = 0; t < n; ++t)
        sum += windowCoefficient(t, n);
    const double p = (sum / n) * (sum / n);
    const double a = 0.74 + 3 * 0.0068965517;
    double state = 0;
    for (int i = 0; i < 5; ++i) {
        const Lines l = frameOf(pan, tone(n, -20));
        state = a * (state + p);
        const double want = 10 * std::log10(state) - 1.975395;
        QVERIFY2(std::abs(l.waterfall[size_t(n / 2 - 20)] - want) < 0.01,
                 qPrintable(QString("frame %1: %2 vs %3").arg(i).arg(l.waterfall[size_t(n / 2 - 20)]).arg(want)));
    }
}

void TestPanSpectrum::stretchUsesMiddleBins_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::newRow("4096") << 4096 << 160 << 3936;
    QTest::newRow("1024") << 1024 << 40 << 985;
    QTest::newRow("16384") << 16384 << 642 << 15742;
}

void TestPanSpectrum::stretchUsesMiddleBins()
{
    QFETCH(int, size);
    QFETCH(int, first);
    QFETCH(int, last);
    QCOMPARE(int(SlopeStretcher::firstBin(size_t(size))), first);
    QCOMPARE(int(SlopeStretcher::firstBin(size_t(size)) + SlopeStretcher::usedBins(size_t(size))) - 1, last);

    // A constant inside [first, last] and huge values outside: any leak of an
    // outside bin would show.
    SlopeStretcher stretcher;
    std::vector<float> v(size_t(size), 1e6f);
    for (int k = first; k <= last; ++k)
        v[size_t(k)] = -50.0f;
    QVERIFY(stretcher.stretch(v.data(), v.size()));
    for (int k = 0; k < size; ++k)
        QVERIFY2(std::abs(v[size_t(k)] + 50.0f) < 1e-3f, qPrintable(QString("bin %1: %2").arg(k).arg(v[size_t(k)])));

    // Both edge bins do take part.
    for (int edge : {first, last}) {
        std::vector<float> e(size_t(size), 1e6f);
        for (int k = first; k <= last; ++k)
            e[size_t(k)] = -50.0f;
        e[size_t(edge)] = 0.0f;
        QVERIFY(stretcher.stretch(e.data(), e.size()));
        bool changed = false;
        for (float x : e)
            changed = changed || std::abs(x + 50.0f) > 1e-3f;
        QVERIFY2(changed, qPrintable(QString("edge %1 unused").arg(edge)));
        QCOMPARE(e[0], e[1]);
    }
}

void TestPanSpectrum::stretchKeepsLinearRamp()
{
    // Cubic Lagrange interpolation is exact for a straight line: the result
    // is again a straight line from about the first to the last used bin.
    const size_t n = 4096;
    std::vector<float> v(n);
    for (size_t k = 0; k < n; ++k)
        v[k] = float(k) * 0.01f;
    SlopeStretcher stretcher;
    QVERIFY(stretcher.stretch(v.data(), n));
    QCOMPARE(v[0], v[1]);
    const double slope = (v[n - 1] - v[1]) / double(n - 2);
    QVERIFY2(std::abs(slope - 0.01 * 3777.0 / 4099.0) < 1e-4, qPrintable(QString::number(slope, 'g', 8)));
    for (size_t k = 2; k < n; ++k)
        QVERIFY2(std::abs(v[k] - (v[1] + slope * double(k - 1))) < 5e-3,
                 qPrintable(QString("bin %1: %2").arg(k).arg(v[k])));
    QVERIFY(v[1] >= 1.60f - 0.02f && v[n - 1] <= 39.36f + 0.02f);
}

void TestPanSpectrum::stretchRefusesShortLines()
{
    SlopeStretcher stretcher(64);
    for (size_t n : {size_t(16), size_t(31), size_t(128)}) {
        std::vector<float> v(n, 3.0f);
        v[0] = 1.0f;
        QVERIFY2(!stretcher.stretch(v.data(), n), qPrintable(QString::number(n)));
        QCOMPARE(v[0], 1.0f);
    }
    std::vector<float> v(32, 3.0f);
    QVERIFY(stretcher.stretch(v.data(), 32));
    for (float x : v)
        QVERIFY(std::abs(x - 3.0f) < 1e-5f);
}

void TestPanSpectrum::stretchMatchesDirectInterpolator_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("64") << 64;
    QTest::newRow("4096") << 4096;
    QTest::newRow("16384") << 16384;
}

void TestPanSpectrum::stretchMatchesDirectInterpolator()
{
    // The interpolator run sample by sample, written out here.
    QFETCH(int, size);
    const size_t n = size_t(size);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-120.0f, 0.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = dist(rng);
    const size_t m = size_t(std::floor(n * 0.9216 + 0.5)) + 2;
    const size_t s = (n - m) / 2 + 1;
    std::vector<double> out;
    double phase = 0, h0 = 0, h1 = 0, h2 = 0, h3 = 0;
    for (size_t i = 0; i < m; ++i) {
        h0 = h1;
        h1 = h2;
        h2 = h3;
        h3 = v[s + i];
        while (phase < 1.0 / m) {
            const double t = phase * m - 1.0;
            const double c3 = (h1 - h2) / 2 + (h3 - h0) / 6;
            const double c1 = (h3 - h1) / 2 - c3;
            const double c2 = (h3 - h2) - c1 - c3;
            out.push_back(((c3 * t + c2) * t + c1) * t + h2);
            phase += 1.0 / (n + 3);
        }
        phase -= 1.0 / m;
    }
    QVERIFY(out.size() >= n + 3);
    SlopeStretcher stretcher;
    QVERIFY(stretcher.stretch(v.data(), n));
    for (size_t k = 1; k < n; ++k)
        QVERIFY2(std::abs(v[k] - out[k + 3]) < 1e-4, qPrintable(QString("bin %1: %2 vs %3").arg(k).arg(v[k]).arg(out[k + 3])));
    QCOMPARE(v[0], v[1]);
}

void TestPanSpectrum::hiddenSlopesInFrame()
{
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    pan.setOn(true);
    pan.setHideSlopes(true);
    QVERIFY(pan.hideSlopes());
    // A tone at +1500 bins: stretched by 4099/3777 about the centre.
    const Lines l = frameOf(pan, tone(4096, 1500));
    QCOMPARE(l.waterfall[0], l.waterfall[1]);
    QCOMPARE(l.panorama[0], l.panorama[1]);
    const int peak = argMax(l.waterfall);
    const double expected = 2048 + 1500 * 4099.0 / 3777.0;
    QVERIFY2(std::abs(peak - expected) <= 3, qPrintable(QString("peak at %1, expected near %2").arg(peak).arg(expected)));
}

void TestPanSpectrum::refusedSubmissionIsReported()
{
    RecordingPool pool;
    pool.accept = false;
    PanSpectrumZorvaniDDC pan(&pool, 0);
    pan.setOn(true);
    pan.setFrameInterval(10);
    const auto frame = tone(4096, 3);
    pan.writeSamples(frame.data(), 4096);
    QTest::qWait(15);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("thread pool queue is full$"));
    pan.writeSamples(frame.data(), 200);
    QCOMPARE(pool.count, size_t(0));
    // The next accepted job still computes a frame.
    pool.accept = true;
    QSignalSpy spy(&pan, &PanSpectrumZorvaniDDC::spectrum);
    QTRY_VERIFY_WITH_TIMEOUT((pan.writeSamples(frame.data(), 200), pool.count > 0), 2000);
    pool.drain();
    QCOMPARE(spy.count(), 1);
}

void TestPanSpectrum::destructionWaitsForQueuedJob()
{
    RecordingPool pool;
    auto* pan = new PanSpectrumZorvaniDDC(&pool, 0);
    pan->setOn(true);
    pan->setFrameInterval(10);
    const auto frame = tone(4096, 3);
    QTRY_VERIFY_WITH_TIMEOUT((pan->writeSamples(frame.data(), 4096), pool.count > 0), 2000);
    // The "pool" runs the queued job a little later on another thread; the
    // destructor must not return before that.
    std::atomic<bool> ran{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pool.drain();
        ran = true;
    });
    delete pan;
    const bool ranBeforeDestroyed = ran.load();
    worker.join();
    QVERIFY2(ranBeforeDestroyed, "destructor returned while a job was still queued");
}

void TestPanSpectrum::destructionGivesUpOnDeadPool()
{
    // A pool that never runs what it accepted: the destructor must not hang.
    RecordingPool pool;
    QElapsedTimer timer;
    {
        PanSpectrumZorvaniDDC pan(&pool, 0);
        pan.setOn(true);
        pan.setFrameInterval(10);
        const auto frame = tone(4096, 3);
        QTRY_VERIFY_WITH_TIMEOUT((pan.writeSamples(frame.data(), 4096), pool.count > 0), 2000);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("a queued frame job never ran$"));
        timer.start();
    }
    QVERIFY2(timer.elapsed() >= 1900 && timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
}

void TestPanSpectrum::concurrentUse()
{
    // A producer thread, the pool's workers and this thread (setters and
    // fetches) all at once; run under ThreadSanitizer as well.
    HostThreadPool pool(2, 16);
    PanSpectrumZorvaniDDC pan(&pool, 1);
    pan.setOn(true);
    pan.setFrameInterval(10);
    std::atomic<int> frames{0};
    connect(&pan, &PanSpectrumZorvaniDDC::spectrum, &pan, [&frames](uint) { ++frames; }, Qt::DirectConnection);
    std::atomic<bool> running{true};
    std::thread producer([&] {
        const auto block = tone(200, 9);
        while (running) {
            pan.writeSamples(block.data(), 200);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::vector<float> p, w;
    const int sizes[] = {1024, 4096, 2048, 16384};
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; timer.elapsed() < 1500 || (frames < 20 && timer.elapsed() < 10000); ++round) {
        pan.setAveragerType(round % 3);
        pan.setAverageCount(round % 7);
        pan.setWaterfallFilter(round % 2 == 0);
        pan.setHideSlopes(round % 3 == 0);
        if (round % 10 == 0)
            QVERIFY(pan.setFftSize(sizes[(round / 10) % 4]));
        pan.getSpectrum(p, w);
        QCOMPARE(p.size(), w.size());
        QVERIFY(p.size() == 1024 || p.size() == 2048 || p.size() == 4096 || p.size() == 16384);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    running = false;
    producer.join();
    pool.waitIdle();
    QVERIFY2(frames >= 20, qPrintable(QString("%1 frames").arg(frames.load())));
}

void TestPanSpectrum::frameAllocatesNothing()
{
    for (bool filter : {false, true}) {
        PanSpectrumZorvaniDDC pan(nullptr, 0);
        pan.setOn(true);
        pan.setWaterfallFilter(filter);
        pan.setHideSlopes(true);
        pan.setAverageCount(30);
        const auto frame = tone(4096, 7);
        for (int i = 0; i < 31; ++i)
            frameOf(pan, frame);
        // A spy would allocate per emission; a plain counter does not.
        int frames = 0;
        connect(&pan, &PanSpectrumZorvaniDDC::spectrum, this, [&frames](uint) { ++frames; }, Qt::DirectConnection);
        for (int type = 0; type < 3; ++type) {
            pan.setAveragerType(type);
            for (int i = 0; i < 31; ++i)
                frameOf(pan, frame);
        }
        // Steady state: every averager's history is full.
        frames = 0;
        pan.writeSamples(frame.data(), 4096);
        testsupport::AllocationScope scope;
        for (int i = 0; i < 5; ++i) {
            pan.writeSamples(frame.data(), 200);
            pan.run();
        }
        QCOMPARE(scope.count(), 0u);
        QCOMPARE(frames, 5);
    }
}

void TestPanSpectrum::writeSamplesAllocatesNothing()
{
    RecordingPool pool;
    PanSpectrumZorvaniDDC pan(&pool, 0);
    pan.setOn(true);
    pan.setFrameInterval(10);
    const auto block = tone(200, 1);
    pan.writeSamples(block.data(), 200);
    testsupport::AllocationScope scope;
    const auto start = std::chrono::steady_clock::now();
    // Long enough for a few frame intervals to pass, so submissions happen too.
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(60))
        pan.writeSamples(block.data(), 200);
    const auto allocations = scope.count();
    QCOMPARE(allocations, 0u);
    QVERIFY2(pool.count >= 2, qPrintable(QString("%1 submissions").arg(pool.count)));
    pool.drain();
}

QTEST_GUILESS_MAIN(TestPanSpectrum)
#include "tst_panspectrum.moc"
