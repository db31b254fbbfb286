#include "ReceiverRecord.h"
#include "ZorvaniDialog/ReceiverItem.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "discovery/ZorvaniSearcher.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TestZorvaniDialog : public QObject {
    Q_OBJECT

    static QList<Receiver> receivers(QStringList serials)
    {
        QList<Receiver> list;
        for (const QString& serial : serials)
            list << testsupport::receiver(serial, QStringLiteral("10.0.0.%1").arg(list.size() + 10), quint16(list.size() + 10));
        return list;
    }

private slots:
    // Each list replaces the last one, newest record on top; a row names the
    // receiver by serial, address and port, and "Use" makes it current.
    void listsAndChoice()
    {
        ZorvaniDialog d;
        d.show();
        QList<Receiver> first = receivers({"OXD01000000001", "OXD01000000002"});
        d.initList(first);
        QCOMPARE(d.rows().size(), 2);
        QList<Receiver> second = receivers({"OXD0100000000A", "OXD0100000000B", "OXD0100000000C"});
        d.initList(second);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QStringList serials;
        for (const ReceiverItem* row : d.rows())
            serials << row->record().serial;
        QCOMPARE(serials, QStringList({"OXD0100000000C", "OXD0100000000B", "OXD0100000000A"}));
        QCOMPARE(d.findChildren<ReceiverItem*>().size(), 3);
        const QString text = d.rows().first()->labelText();
        for (const char* part : {"SN:&nbsp;OXD0100000000C", "Address:10.0.0.12", "Port:12"})
            QVERIFY2(text.contains(part), qPrintable(text));

        QSignalSpy update(&ZorvaniSearcher::instance(), &ZorvaniSearcher::update);
        QSignalSpy chosen(&d, &ZorvaniDialog::receiver);
        QTest::mouseClick(d.rows().last()->findChild<QPushButton*>(), Qt::LeftButton); // the first record
        QCOMPARE(update.count(), 1);
        QCOMPARE(ZorvaniSearcher::instance().current(), second[0]);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.first().first().value<Receiver>(), second[0]);
        QVERIFY(!d.isVisible());

        QList<Receiver> none;
        d.initList(none);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(d.rows().isEmpty());
        QVERIFY(d.findChildren<ReceiverItem*>().isEmpty());
    }
};

QTEST_MAIN(TestZorvaniDialog)
#include "tst_zorvanidialog.moc"
