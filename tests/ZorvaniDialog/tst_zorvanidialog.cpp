#include "ReceiverRecord.h"
#include "ZorvaniDialog/ReceiverItem.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "discovery/ZorvaniSearcher.h"

#include <QPushButton>
#include <QtTest>

class TestZorvaniDialog : public QObject {
    Q_OBJECT
private slots:
    // Each list replaces the last one, newest record on top; a row names the
    // receiver by serial, address and port, and "Use" makes it current.
    void listsAndChoice()
    {
        ZorvaniDialog d;
        d.show();
        QList<Receiver> lists[3];
        for (int n = 0; n < 2; ++n)
            for (const char* serial : {"OXD0100000000A", "OXD0100000000B", "OXD0100000000C"})
                lists[n] << testsupport::receiver(serial, QStringLiteral("10.0.0.%1").arg(lists[n].size() + 10), quint16(lists[n].size() + 10));
        lists[0].removeLast();
        for (QList<Receiver>& list : lists) {
            d.initList(list);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QStringList serials, shown;
            for (const Receiver& r : list)
                serials.prepend(r.serial);
            for (const ReceiverItem* row : d.rows())
                shown << row->record().serial;
            QCOMPARE(shown, serials);
            QCOMPARE(d.findChildren<ReceiverItem*>().size(), list.size());
        }
        d.initList(lists[1]);
        const QString text = d.rows().first()->labelText();
        for (const char* part : {"SN:&nbsp;OXD0100000000C", "Address:10.0.0.12", "Port:12"})
            QVERIFY2(text.contains(part), qPrintable(text));
        QSignalSpy update(&ZorvaniSearcher::instance(), &ZorvaniSearcher::update), chosen(&d, &ZorvaniDialog::receiver);
        QTest::mouseClick(d.rows().last()->findChild<QPushButton*>(), Qt::LeftButton); // the first record
        QVERIFY(update.count() == 1 && ZorvaniSearcher::instance().current() == lists[1][0]);
        QVERIFY(chosen.count() == 1 && chosen.first().first().value<Receiver>() == lists[1][0]);
        QVERIFY(!d.isVisible());
    }
};

QTEST_MAIN(TestZorvaniDialog)
#include "tst_zorvanidialog.moc"
