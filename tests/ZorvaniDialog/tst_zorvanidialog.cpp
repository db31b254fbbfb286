#include "ZorvaniDialog/ReceiverItem.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "discovery/ZorvaniSearcher.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QtTest>

namespace {
Receiver rx(const char* serial, const char* address, quint16 port)
{
    Receiver r;
    r.name = QStringLiteral("ZorvaniDDC");
    r.serial = QLatin1String(serial);
    r.address = QHostAddress(QLatin1String(address));
    r.port = port;
    return r;
}
} // namespace

class TestZorvaniDialog : public QObject {
    Q_OBJECT
private slots:
    void formMatchesTheLayout()
    {
        ZorvaniDialog d;
        QCOMPARE(d.size(), QSize(425, 316));
        QCOMPARE(d.windowTitle(), QStringLiteral("ZorvaniDDC"));
        auto* heading = d.findChild<QLabel*>();
        QVERIFY(heading);
        QCOMPARE(heading->text(), QStringLiteral("Found receivers"));
        QVERIFY(d.styleSheet().contains(QStringLiteral("rgb(58, 58, 58)")));
        QVERIFY(d.findChild<QScrollArea*>());
        QVERIFY(d.findChild<QLayout*>(QStringLiteral("rxLayout")));
    }

    void emptyListShowsNoRows()
    {
        ZorvaniDialog d;
        QList<Receiver> none;
        d.initList(none);
        QVERIFY(d.rows().isEmpty());
        QVERIFY(d.findChildren<ReceiverItem*>().isEmpty());
    }

    void lastRecordIsOnTopAndSecondListReplacesFirst()
    {
        ZorvaniDialog d;
        QList<Receiver> first{rx("OXD01000000001", "10.0.0.1", 1), rx("OXD01000000002", "10.0.0.2", 2)};
        d.initList(first);
        QCOMPARE(d.rows().size(), 2);
        QList<Receiver> second{rx("OXD0100000000A", "10.0.0.10", 10), rx("OXD0100000000B", "10.0.0.11", 11),
                               rx("OXD0100000000C", "10.0.0.12", 12)};
        d.initList(second);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QList<ReceiverItem*> rows = d.rows();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(d.findChildren<ReceiverItem*>().size(), 3);
        QCOMPARE(rows[0]->record().serial, QStringLiteral("OXD0100000000C"));
        QCOMPARE(rows[1]->record().serial, QStringLiteral("OXD0100000000B"));
        QCOMPARE(rows[2]->record().serial, QStringLiteral("OXD0100000000A"));
    }

    void rowText()
    {
        ReceiverItem item;
        Receiver r = rx("OXD010a1b00123", "192.168.1.5", 50001);
        item.initGui(r);
        const QString q = QStringLiteral("\"");
        const QString expected =
            "<html><span style=" + q + " font-size:10pt; font-weight:600; color:rgb( 255,255,255);" + q +
            ">ZorvaniDDC&nbsp;&nbsp;SN:&nbsp;OXD010a1b00123</span></html><br/>" + "<html><span style=" + q +
            " font-size:8pt; color:rgb( 200,200,200);" + q + ">Address:192.168.1.5   </span></html>" +
            "<html><span style=" + q + " font-size:8pt; color:rgb( 200,200,200);" + q +
            ">&nbsp;&nbsp;Port:50001</span></html>";
        QCOMPARE(item.labelText(), expected);
        QCOMPARE(item.size(), QSize(361, 50));
        auto* use = item.findChild<QPushButton*>();
        QVERIFY(use);
        QCOMPARE(use->text(), QStringLiteral("Use"));
    }

    void useMakesTheReceiverCurrent()
    {
        ZorvaniDialog d;
        d.show();
        QList<Receiver> list{rx("OXD01000000001", "10.0.0.1", 1), rx("OXD01000000002", "10.0.0.2", 2)};
        d.initList(list);
        QSignalSpy update(&ZorvaniSearcher::instance(), &ZorvaniSearcher::update);
        QSignalSpy chosen(&d, &ZorvaniDialog::receiver);
        // The bottom row shows the first record.
        QTest::mouseClick(d.rows().last()->findChild<QPushButton*>(), Qt::LeftButton);
        QCOMPARE(update.count(), 1);
        QCOMPARE(ZorvaniSearcher::instance().current(), list[0]);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.first().first().value<Receiver>(), list[0]);
        QVERIFY(!d.isVisible());
    }
};

QTEST_MAIN(TestZorvaniDialog)
#include "tst_zorvanidialog.moc"
