// The window's parts alone: tuning, the frequency display's entry, the
// panorama's mapping and mouse, and the silent sound output.
#include "CardFeed.h"
#include "FrequencyDisplay.h"
#include "PanoramaView.h"
#include "SpeakerOutput.h"
#include "TuningModel.h"

#include <QSignalSpy>
#include <QtTest>

#include <atomic>

class TestReceiverParts : public QObject {
    Q_OBJECT

private slots:
    void tuning_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<double>("span");
        QTest::addColumn<QString>("action");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("centre");
        QTest::addColumn<double>("offset");
        // From centre 7.1 MHz, offset 0.
        QTest::newRow("inside the span: the channel moves") << false << 312500.0 << "tune" << 7200000.0 << 7100000.0 << 100000.0;
        QTest::newRow("beyond it: the centre follows") << false << 312500.0 << "tune" << 7300000.0 << 7300000.0 << 0.0;
        QTest::newRow("locked: the channel stops at the edge") << true << 312500.0 << "tune" << 7300000.0 << 7100000.0 << 140625.0;
        QTest::newRow("below zero: held at 0 Hz") << false << 39062.5 << "tune" << -5.0 << 0.0 << 0.0;
        QTest::newRow("steps land on the grid") << false << 312500.0 << "step" << 3.0 << 7100000.0 << 3000.0;
        QTest::newRow("a narrower span takes the channel in") << false << 39062.5 << "shrink" << 0.0 << 7120000.0 << 0.0;
        QTest::newRow("locked centre ignores a new centre") << true << 312500.0 << "centre" << 8000000.0 << 7100000.0 << 0.0;
    }
    void tuning()
    {
        QFETCH(bool, locked);
        QFETCH(double, span);
        QFETCH(QString, action);
        QFETCH(double, value);
        QFETCH(double, centre);
        QFETCH(double, offset);
        TuningModel t;
        t.setSpan(312500.0);
        t.setCentre(7100000.0);
        if (action == QLatin1String("shrink"))
            t.tuneTo(7120000.0);
        t.setCentreLocked(locked);
        t.setSpan(span);
        if (action == QLatin1String("tune"))
            t.tuneTo(value);
        else if (action == QLatin1String("step"))
            t.step(int(value), 1000.0);
        else if (action == QLatin1String("centre"))
            t.setCentre(value);
        else
            t.keepInSpan();
        QCOMPARE(t.centre(), centre);
        QCOMPARE(t.offset(), offset);
    }

    void frequencyEntry_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("hz");
        QTest::newRow("grouped hertz") << "7.100.000" << true << 7100000.0;
        QTest::newRow("MHz with a point") << "7.1" << true << 7100000.0;
        QTest::newRow("kHz without a unit") << "14250" << true << 14250000.0;
        QTest::newRow("kHz with k") << "7100.5k" << true << 7100500.0;
        QTest::newRow("not a number") << "seven" << false << 0.0;
        QTest::newRow("negative") << "-5" << false << 0.0;
    }
    void frequencyEntry()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, hz);
        double parsed = 0.0;
        QCOMPARE(FrequencyDisplay::parse(text, &parsed), ok);
        if (ok)
            QCOMPARE(parsed, hz);
    }

    void frequencyWheel()
    {
        struct Display : FrequencyDisplay {
            using QLineEdit::cursorRect;
        } display;
        display.resize(300, 50);
        display.setFrequency(7100000.0);
        QCOMPARE(display.text(), QStringLiteral("7.100.000"));
        QSignalSpy requested(&display, &FrequencyDisplay::frequencyRequested);
        // Over the 100 kHz digit: "7.100.000", character 2, just right of the caret before it.
        display.setCursorPosition(2);
        const QPoint at = display.cursorRect().center() + QPoint(3, 0);
        display.setCursorPosition(9);
        QWheelEvent up(at, display.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(&display, &up);
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.first().first().toDouble(), 7200000.0);
    }

    void panoramaMapping_data()
    {
        QTest::addColumn<int>("zoom");
        QTest::addColumn<double>("offset");
        QTest::newRow("whole span") << 1 << 0.0;
        QTest::newRow("zoom 4 around the channel") << 4 << 60000.0;
        QTest::newRow("zoom 16 at the edge") << 16 << 140000.0;
    }
    void panoramaMapping()
    {
        QFETCH(int, zoom);
        QFETCH(double, offset);
        PanoramaView view;
        view.resize(1000, 600);
        view.setAxis(7100000.0, 312500.0);
        view.setChannel(offset, -3000.0, 3000.0);
        view.setZoom(zoom);
        QCOMPARE(view.zoom(), zoom);
        const double hzPerPixel = 312500.0 / zoom / view.panoramaRect().width();
        const double channel = 7100000.0 + offset;
        for (double hz : {channel - 5000.0, channel, channel + 4321.0}) {
            const int x = view.xOf(hz);
            QVERIFY(view.panoramaRect().contains(x, view.panoramaRect().center().y()));
            QVERIFY(std::abs(view.frequencyAt(x) - hz) <= hzPerPixel);
        }
        // The view never leaves the span.
        QVERIFY(view.frequencyAt(view.panoramaRect().right()) <= 7100000.0 + 156250.0);
    }

    void panoramaMouse()
    {
        PanoramaView view;
        view.resize(1000, 600);
        view.setAxis(7100000.0, 312500.0);
        view.setChannel(0.0, 70.0, 2700.0);
        QSignalSpy tune(&view, &PanoramaView::tuneRequested);
        QSignalSpy edge(&view, &PanoramaView::filterEdgeDragged);
        QSignalSpy step(&view, &PanoramaView::stepRequested);
        const int y = view.panoramaRect().center().y();
        const double hzPerPixel = 312500.0 / view.panoramaRect().width();

        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(view.xOf(7150000.0), y));
        QCOMPARE(tune.count(), 1);
        QVERIFY(std::abs(tune.first().first().toDouble() - 7150000.0) <= hzPerPixel);

        // The high edge dragged 10 kHz up.
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(view.xOf(7102700.0), y));
        QMouseEvent move(QEvent::MouseMove, QPointF(view.xOf(7112700.0), y), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(&view, &move);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(view.xOf(7112700.0), y));
        QCOMPARE(edge.count(), 1);
        QCOMPARE(edge.first().at(0).toBool(), true);
        QVERIFY(std::abs(edge.first().at(1).toDouble() - 12700.0) <= 2 * hzPerPixel);
        QCOMPARE(tune.count(), 1);

        QWheelEvent down(QPointF(500, y), QPointF(), QPoint(), QPoint(0, -240), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &down);
        QCOMPARE(step.count(), 1);
        QCOMPARE(step.first().first().toInt(), -2);
    }

    // The card gets whole frames, no more than the source holds, clipped to 16 bits.
    void cardFeed_data()
    {
        QTest::addColumn<bool>("floatSamples");
        QTest::addColumn<int>("available");
        QTest::addColumn<int>("asked");  // bytes
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("frames"); // expected
        QTest::addColumn<double>("sample");
        QTest::newRow("float, the source holds less") << true << 100 << 8000 << 0.5f << 100 << 0.5;
        QTest::newRow("float, a partial frame asked") << true << 1000 << 803 << 0.5f << 100 << 0.5;
        QTest::newRow("int16, scaled") << false << 1000 << 400 << 0.5f << 100 << 16383.0;
        QTest::newRow("int16, clipped") << false << 1000 << 400 << -2.0f << 100 << -32768.0;
        QTest::newRow("the source is empty") << true << 0 << 8000 << 0.5f << 0 << 0.0;
        QTest::newRow("at most one block") << true << 100000 << (1 << 20) << 0.5f << int(CardFeed::kMaxBlockFrames) << 0.5;
    }
    void cardFeed()
    {
        QFETCH(bool, floatSamples);
        QFETCH(int, available);
        QFETCH(int, asked);
        QFETCH(float, value);
        QFETCH(int, frames);
        QFETCH(double, sample);
        quint32 pulled = 0;
        CardFeed feed(
            [&](float* interleaved, quint32 n) {
                pulled += n;
                std::fill(interleaved, interleaved + 2 * n, value);
                return true;
            },
            [&] { return quint32(available); }, floatSamples);
        QVERIFY(feed.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        const QByteArray got = feed.read(asked);
        const int frameBytes = floatSamples ? 8 : 4;
        QCOMPARE(got.size(), frames * frameBytes);
        QCOMPARE(int(pulled), frames);
        if (frames > 0) {
            const double last = floatSamples ? double(reinterpret_cast<const float*>(got.constData())[2 * frames - 1])
                                             : double(reinterpret_cast<const qint16*>(got.constData())[2 * frames - 1]);
            QCOMPARE(last, sample);
        }
    }

    // Without a sound device the output pulls on its clock: the source is
    // read at 48000 Hz, the tap sees it, opened() and closed() bracket it.
    void silentOutput()
    {
        SpeakerOutput out;
        QSignalSpy opened(&out, &SpeakerOutput::opened);
        QSignalSpy closed(&out, &SpeakerOutput::closed);
        QSignalSpy status(&out, &SpeakerOutput::statusChanged);
        out.setAudioSource([](float* buffer, quint32 length, quint32) {
            std::fill(buffer, buffer + length, 0.25f);
            return true;
        });
        std::atomic<quint64> frames{0};
        std::atomic<bool> wrong{false};
        out.setTap([&](const float* interleaved, quint32 n) {
            for (quint32 i = 0; i < 2 * n; ++i)
                wrong = wrong || interleaved[i] != 0.25f;
            frames += n;
        });
        out.open(QAudioDeviceInfo(), {});
        QVERIFY(out.isSilent());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(status.count(), 1);
        QCOMPARE(out.statusText(), QStringLiteral("No sound device: running silent"));
        QTRY_VERIFY(frames.load() >= 4800);
        QVERIFY(!wrong.load());
        out.close();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!out.isOpen());
    }
};

QTEST_MAIN(TestReceiverParts)
#include "tst_receiverparts.moc"
