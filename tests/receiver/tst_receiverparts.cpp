// The window's parts alone: tuning, the frequency display's entry, the
// panorama's mapping and mouse, and the silent output.
#include "FrequencyDisplay.h"
#include "PanoramaView.h"
#include "SpeakerOutput.h"
#include "TuningModel.h"

#include <QtTest>

#include <atomic>

class TestReceiverParts : public QObject {
    Q_OBJECT

private slots:
    // From centre 7.1 MHz over 312500 Hz, offset 0.
    void tuning()
    {
        const struct {
            const char* what;
            bool locked;
            double span;
            char action;
            double value, centre, offset;
        } rows[] = {
            {"inside the span: the channel moves", false, 312500.0, 't', 7200000.0, 7100000.0, 100000.0},
            {"beyond it: the centre follows", false, 312500.0, 't', 7300000.0, 7300000.0, 0.0},
            {"locked: the channel stops at the edge", true, 312500.0, 't', 7300000.0, 7100000.0, 140625.0},
            {"below zero: held at 0 Hz", false, 39062.5, 't', -5.0, 0.0, 0.0},
            {"steps land on the grid", false, 312500.0, 's', 3.0, 7100000.0, 3000.0},
            {"a narrower span takes the channel in", false, 39062.5, 'k', 0.0, 7120000.0, 0.0},
            {"locked centre ignores a new centre", true, 312500.0, 'c', 8000000.0, 7100000.0, 0.0}};
        for (const auto& r : rows) {
            TuningModel t;
            t.setSpan(312500.0);
            t.setCentre(7100000.0);
            if (r.action == 'k')
                t.tuneTo(7120000.0);
            t.setCentreLocked(r.locked);
            t.setSpan(r.span);
            if (r.action == 't')
                t.tuneTo(r.value);
            else if (r.action == 's')
                t.step(int(r.value), 1000.0);
            else if (r.action == 'c')
                t.setCentre(r.value);
            else
                t.keepInSpan();
            const QString got = QStringLiteral("%1: centre %2, offset %3").arg(r.what).arg(t.centre()).arg(t.offset());
            QVERIFY2(t.centre() == r.centre && t.offset() == r.offset, qPrintable(got));
        }
    }

    // Typed text in hertz, MHz or kHz.
    void frequencyDisplay()
    {
        const struct { const char* text; double hz; } rows[] = { // 0: refused
            {"7.100.000", 7100000.0}, {"7.1", 7100000.0}, {"14250", 14250000.0}, {"7100.5k", 7100500.0},
            {"seven", 0.0}, {"-5", 0.0}};
        for (const auto& r : rows) {
            double parsed = 0.0;
            const bool accepted = FrequencyDisplay::parse(r.text, &parsed);
            QVERIFY2(accepted == (r.hz > 0.0) && (r.hz == 0.0 || parsed == r.hz), r.text);
        }
    }

    // Zoomed around the channel, pixels map to their frequencies and the view never leaves the span.
    void panorama()
    {
        for (auto [zoom, offset] : {std::pair{1, 0.0}, {4, 60000.0}, {16, 140000.0}}) {
            PanoramaView view;
            view.resize(1000, 600);
            view.setAxis(7100000.0, 312500.0);
            view.setChannel(offset, -3000.0, 3000.0);
            view.setZoom(zoom);
            QCOMPARE(view.zoom(), zoom);
            const double hzPerPixel = 312500.0 / zoom / view.panoramaRect().width(), channel = 7100000.0 + offset;
            for (double hz : {channel - 5000.0, channel, channel + 4321.0}) {
                const int x = view.xOf(hz);
                QVERIFY(view.panoramaRect().contains(x, view.panoramaRect().center().y()));
                const QString where = QStringLiteral("zoom %1, %2 Hz").arg(zoom).arg(hz);
                QVERIFY2(std::abs(view.frequencyAt(x) - hz) <= hzPerPixel, qPrintable(where));
            }
            QVERIFY(view.frequencyAt(view.panoramaRect().right()) <= 7100000.0 + 156250.0);
        }
        // Dragging the high edge 10 kHz up moves only the edge, the wheel steps.
        // (A click tunes: the window test.)
        PanoramaView view;
        view.resize(1000, 600);
        view.setAxis(7100000.0, 312500.0);
        view.setChannel(0.0, 70.0, 2700.0);
        QSignalSpy tune(&view, &PanoramaView::tuneRequested), edge(&view, &PanoramaView::filterEdgeDragged),
            step(&view, &PanoramaView::stepRequested);
        const int y = view.panoramaRect().center().y();
        const double hzPerPixel = 312500.0 / view.panoramaRect().width();
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(view.xOf(7102700.0), y));
        QMouseEvent move(QEvent::MouseMove, QPointF(view.xOf(7112700.0), y), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(&view, &move);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(view.xOf(7112700.0), y));
        QVERIFY(edge.count() == 1 && tune.isEmpty() && edge.first().at(0).toBool());
        QVERIFY(std::abs(edge.first().at(1).toDouble() - 12700.0) <= 2 * hzPerPixel);
        QWheelEvent down(QPointF(500, y), QPointF(), QPoint(), QPoint(0, -240), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &down);
        QVERIFY(step.count() == 1 && step.first().first().toInt() == -2);
    }

    // Without a sound device the output pulls on its clock: the source is
    // read at 48000 Hz, the tap sees it, opened() and closed() bracket it.
    void silentOutput()
    {
        SpeakerOutput out;
        QSignalSpy opened(&out, &SpeakerOutput::opened), closed(&out, &SpeakerOutput::closed),
            status(&out, &SpeakerOutput::statusChanged);
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
        QVERIFY(out.isSilent() && opened.count() == 1 && status.count() == 1);
        QTRY_VERIFY(frames.load() >= 4800);
        QVERIFY(!wrong.load());
        out.close();
        QVERIFY(closed.count() == 1 && !out.isOpen());
    }
};

QTEST_MAIN(TestReceiverParts)
#include "tst_receiverparts.moc"
