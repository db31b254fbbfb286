#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/Resampler.h"

#include <QtTest>

using namespace dsptest;

namespace {

// The conversion as written from its definition: for every input sample,
// while phase < L emit L·Σ h[k]·x[newest - k/L] over k = phase, phase+L, ...
Signal directPolyphase(const std::vector<float>& h, int L, int M, const Signal& in)
{
    const int taps = int(h.size());
    std::vector<double> re, im;
    Signal out;
    int phase = 0;
    for (size_t n = 0; n < in.size(); ++n) {
        for (; phase < L; phase += M) {
            double yr = 0, yi = 0;
            for (int k = phase; k < taps; k += L) {
                const long j = long(n) - k / L;
                if (j >= 0) {
                    yr += double(h[k]) * float(in[j].re);
                    yi += double(h[k]) * float(in[j].im);
                }
            }
            out.push_back({L * yr, L * yi});
        }
        phase -= L;
    }
    return out;
}

Signal convert(Resampler& r, const Signal& in)
{
    Signal out(static_cast<size_t>(Resampler::maxOutput(int(in.size()), r.interpolation(), r.decimation())));
    const int n = r.process(in.data(), out.data(), int(in.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

} // namespace

class TestResampler : public QObject {
    Q_OBJECT
private slots:
    void ratio_data()
    {
        QTest::addColumn<float>("in");
        QTest::addColumn<float>("out");
        QTest::addColumn<int>("L");
        QTest::addColumn<int>("M");
        QTest::newRow("39062.5 -> 48000") << 39062.5f << 48000.0f << 768 << 625;
        QTest::newRow("48000 -> 48000") << 48000.0f << 48000.0f << 1 << 1;
        QTest::newRow("48000 -> 39062.5") << 48000.0f << 39062.5f << 625 << 768;
        QTest::newRow("39062.5 -> 8000") << 39062.5f << 8000.0f << 128 << 625;
        QTest::newRow("44100 -> 48000") << 44100.0f << 48000.0f << 160 << 147;
    }

    void ratio()
    {
        QFETCH(float, in);
        QFETCH(float, out);
        QFETCH(int, L);
        QFETCH(int, M);
        Resampler r;
        QVERIFY(r.init(in, out));
        QCOMPARE(r.interpolation(), L);
        QCOMPARE(r.decimation(), M);
        // 8 taps per phase; converting down, 8 per phase for every L of M.
        const int taps = 8 * L * (M > L ? (M + L - 1) / L : 1);
        QCOMPARE(r.taps(), taps);
        QCOMPARE(int(r.coefficients().size()), taps);
        double sum = 0.0;
        for (float c : r.coefficients())
            sum += c;
        QVERIFY2(std::abs(sum - 1.0) < 1e-5, "DC gain is not 1");
    }

    void frameCounts()
    {
        Resampler r;
        QVERIFY(r.init(39062.5f, 48000.0f));
        QCOMPARE(convert(r, noise(625, 1)).size(), size_t(768));
        QCOMPARE(Resampler::maxOutput(625, 768, 625), 768);

        // Any cut of the input: each call within its bound, 768 per 625 overall.
        r.reset();
        int total = 0;
        std::mt19937 gen(5);
        for (int consumed = 0; consumed < 625 * 8;) {
            const int n = std::min(int(gen() % 300) + 1, 625 * 8 - consumed);
            const Signal out = convert(r, noise(n, unsigned(consumed)));
            QVERIFY(int(out.size()) <= Resampler::maxOutput(n, 768, 625));
            total += int(out.size());
            consumed += n;
        }
        QCOMPARE(total, 768 * 8);
    }

    // A refused rate keeps the working design.
    void invalidRatesRefused()
    {
        Resampler r;
        Signal in = noise(4, 1), out(4, C{7.0, 7.0});
        QCOMPARE(r.process(in.data(), out.data(), 4), 0); // not initialised
        QCOMPARE(out[0].re, 7.0);
        QVERIFY(r.init(39062.5f, 48000.0f));
        MessageCapture capture;
        QVERIFY(!r.init(0.0f, 48000.0f));
        QVERIFY(!r.init(48000.0f, -1.0f));
        QVERIFY(!r.init(std::nanf(""), 48000.0f));
        QVERIFY(!r.init(0.01f, 48000.0f));    // truncates to 0
        QVERIFY(!r.init(99999.7f, 48000.1f)); // L and M far too large
        QCOMPARE(r.interpolation(), 768);
        QCOMPARE(r.decimation(), 625);
        QCOMPARE(capture.all().size(), 5);
    }

    void matchesDirectPolyphase_data()
    {
        QTest::addColumn<float>("out");
        QTest::addColumn<int>("L");
        QTest::newRow("up to 48000") << 48000.0f << 768;
        QTest::newRow("down to 8000") << 8000.0f << 128;
    }

    void matchesDirectPolyphase()
    {
        QFETCH(float, out);
        QFETCH(int, L);
        Resampler r;
        QVERIFY(r.init(39062.5f, out));
        const Signal in = noise(3000, 9, 0.8);
        const Signal fast = convert(r, in);
        const Signal ref = directPolyphase(r.coefficients(), L, 625, in);
        QCOMPARE(fast.size(), ref.size());
        QVERIFY2(maxDifference(fast, ref) < 2e-6, qPrintable(QString::number(maxDifference(fast, ref))));
    }

    // A 1 kHz tone at 39062.5 Hz comes out at 1 kHz at 48000 Hz; all that is
    // not that tone (images, aliases, rounding) stays below -80 dBc.
    void toneThroughConverter()
    {
        Resampler r;
        QVERIFY(r.init(39062.5f, 48000.0f));
        const Signal in = tone(39063, 1000.0 / 39062.5, 0.5);
        const Signal out = convert(r, in);
        const int start = 4800, length = 38400;  // whole cycles of 1 kHz at 48 kHz
        QVERIFY(int(out.size()) >= start + length);
        const std::complex<double> a = dft(out.data() + start, length, 1000.0 / 48000.0);
        QVERIFY2(std::abs(std::abs(a) - 0.5) < 0.5 * 1e-3, qPrintable(QString::number(std::abs(a))));
        double residual = 0.0;
        for (int k = 0; k < length; ++k) {
            const std::complex<double> fit = a * std::polar(1.0, double(kTwoPiL * 1000.0 / 48000.0 * k));
            residual += std::norm(toStd(out[start + k]) - fit);
        }
        const double dBc = 10.0 * std::log10(residual / length / std::norm(a));
        QVERIFY2(dBc < -80.0, qPrintable(QString("distortion %1 dBc").arg(dBc)));
    }

    void passAndStop_data()
    {
        QTest::addColumn<float>("in");
        QTest::addColumn<float>("out");
        QTest::addColumn<double>("passHz");
        QTest::addColumn<double>("passTolerance");
        QTest::addColumn<double>("stopHz");
        QTest::addColumn<double>("stopDb");
        // 1:1 is a low-pass at 0.4 of the rate.
        QTest::newRow("48000 -> 48000") << 48000.0f << 48000.0f << 1000.0 << 0.01 << 22000.0 << -6.0;
        // The cut-off follows the output's half rate: 6 kHz does not fold back
        // to 2 kHz. 1 kHz lies at 0.31 of the 3200 Hz cut-off, where the
        // window's transition begins: within 2 %.
        QTest::newRow("39062.5 -> 8000") << 39062.5f << 8000.0f << 1000.0 << 0.02 << 6000.0 << -60.0;
    }

    void passAndStop()
    {
        QFETCH(float, in);
        QFETCH(float, out);
        QFETCH(double, passHz);
        QFETCH(double, passTolerance);
        QFETCH(double, stopHz);
        QFETCH(double, stopDb);
        Resampler r;
        QVERIFY(r.init(in, out));
        const int n = int(in), skip = int(out) / 50, window = int(out) * 3 / 4;
        const Signal pass = convert(r, tone(n, passHz / in));
        QVERIFY(int(pass.size()) >= skip + window);
        const double gain = std::abs(dft(pass.data() + skip, window, passHz / out));
        QVERIFY2(std::abs(gain - 1.0) < passTolerance, qPrintable(QString::number(gain)));
        r.reset();
        const Signal stop = convert(r, tone(n, stopHz / in));
        const double heard = stopHz < out / 2.0 ? stopHz : std::abs(out - stopHz);
        const double level = db(std::abs(dft(stop.data() + skip, window, heard / out)));
        QVERIFY2(level < stopDb, qPrintable(QString("%1 Hz at %2 dB").arg(heard).arg(level)));
    }
};

QTEST_APPLESS_MAIN(TestResampler)
#include "tst_resampler.moc"
