#include "ZorvaniDialog/ReceiverItem.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "discovery/ZorvaniSearcher.h"

#include <QPushButton>
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
    // Each list replaces the last one, newest record on top.
    void listsReplaceEachOther()
    {
        ZorvaniDialog d;
        QList<Receiver> first{rx("OXD01000000001", "10.0.0.1", 1), rx("OXD01000000002", "10.0.0.2", 2)};
        d.initList(first);
        QCOMPARE(d.rows().size(), 2);
        QList<Receiver> second{rx("OXD0100000000A", "10.0.0.10", 10), rx("OXD0100000000B", "10.0.0.11", 11),
                               rx("OXD0100000000C", "10.0.0.12", 12)};
        d.initList(second);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QStringList serials;
        for (const ReceiverItem* row : d.rows())
            serials << row->record().serial;
        QCOMPARE(serials, QStringList({"OXD0100000000C", "OXD0100000000B", "OXD0100000000A"}));
        QCOMPARE(d.findChildren<ReceiverItem*>().size(), 3);
        // The row names the receiver by serial, address and port.
        const QString text = d.rows().first()->labelText();
        for (const char* part : {"SN:&nbsp;OXD0100000000C", "Address:10.0.0.12", "Port:12"})
            QVERIFY2(text.contains(part), qPrintable(text));
        QList<Receiver> none;
        d.initList(none);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(d.rows().isEmpty());
        QVERIFY(d.findChildren<ReceiverItem*>().isEmpty());
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
