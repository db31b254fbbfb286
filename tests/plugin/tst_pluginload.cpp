// Loads the built plug-in the way the host does. This test links only the
// minimal host: linking the plug-in's own libraries would give the process two
// copies of every singleton.
#include "DeviceAbstract.h"
#include "HostBridge.h"
#include "PluginHost.h"

#include "PrivateHome.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QPointer>
#include <QtTest>

class TestPluginLoad : public QObject {
    Q_OBJECT

private:
    // The plug-in writes its band-plan file on construction; keep it private.
    QTemporaryDir m_home;
    QString m_path;

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_home));
        m_path = QString::fromLocal8Bit(qgetenv("ZORVANI_PLUGIN"));
        if (m_path.isEmpty())
            QSKIP("ZORVANI_PLUGIN is not set; run through ctest");
        QVERIFY2(QFileInfo::exists(m_path), qPrintable("no plug-in at " + m_path));
    }

    void metadataAndInstance()
    {
        QPluginLoader loader(m_path);
        const QJsonObject meta = loader.metaData();
        QVERIFY2(!meta.isEmpty(), qPrintable(loader.errorString()));
        QCOMPARE(meta.value("IID").toString(), QString("Ostrovix.Velmora2.plugin"));
        QCOMPARE(meta.value("className").toString(), QString("ZorvaniInterface"));
        const QJsonObject data = meta.value("MetaData").toObject();
        QCOMPARE(data.value("name").toString(), QString("ZorvaniDDC"));
        QCOMPARE(data.value("version").toString(), QString("0.0.1"));
        QVERIFY2(data.value("dependencies").isArray(), "dependencies is a list");
        QVERIFY(data.value("dependencies").toArray().isEmpty());

        // One object with its interface, whatever the loader.
        QObject* first = loader.instance();
        QVERIFY2(first, qPrintable(loader.errorString()));
        QPointer<QObject> guard(first);

        QVERIFY(first->qt_metacast("Ostrovix.Velmora2.plugin"));
        QVERIFY(qobject_cast<DeviceAbstract*>(first));

        QCOMPARE(loader.instance(), first);
        QPluginLoader second(m_path);
        QCOMPARE(second.instance(), first);

        // Once destroyed, the next call makes a new object.
        delete first;
        QVERIFY(guard.isNull());
        QObject* again = loader.instance();
        QVERIFY(qobject_cast<DeviceAbstract*>(again));
        delete again;
    }

    void hostDrivesTheLifecycle()
    {
        PluginHost host;
        QVERIFY2(host.load(m_path), qPrintable(host.errorString()));
        QCOMPARE(host.pluginName(), QString("ZorvaniDDC"));
        QCOMPARE(host.pluginVersion(), QString("0.0.1"));
        DeviceAbstract* device = host.device();
        QCOMPARE(device->name(), QString("ZorvaniDDC"));
        QCOMPARE(device->functions()->modes().size(), 11);

        HostBridge bridge;
        HostManager manager;
        QVERIFY(device->init(bridge, nullptr, false, true));
        device->setManager(&manager);
        QCOMPARE(bridge.hostVacs().count(), 2);
        QCOMPARE(bridge.hostLineOuts().count(), 2);
        QCOMPARE(bridge.hostSoundOut().engine().pullOnce(64), std::vector<float>(128, 0.0f));
        QTRY_VERIFY_WITH_TIMEOUT(manager.deviceMenu() != nullptr, 5000);
        device->deinit();
        QVERIFY(bridge.hostSoundOut().engine().pullOnce(64).empty());
    }
};

QTEST_MAIN(TestPluginLoad)
#include "tst_pluginload.moc"
