// Loads the built plug-in the way the host does. This test links only the
// minimal host: linking the plug-in's own libraries would give the process two
// copies of every singleton.
#include "DeviceAbstract.h"
#include "PrivateHome.h"

#include <QtTest>

class TestPluginLoad : public QObject {
    Q_OBJECT

    QTemporaryDir m_home; // the plug-in writes its band-plan file on construction
    QString m_path;

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_home));
        m_path = QString::fromLocal8Bit(qgetenv("ZORVANI_PLUGIN")); // set by ctest
        QVERIFY2(QFileInfo::exists(m_path), qPrintable("no plug-in at \"" + m_path + "\" (ZORVANI_PLUGIN)"));
    }

    void metadataAndInstance()
    {
        QPluginLoader loader(m_path);
        const QJsonObject meta = loader.metaData();
        QVERIFY2(!meta.isEmpty(), qPrintable(loader.errorString()));
        QCOMPARE(meta.value("IID").toString() + " " + meta.value("className").toString(),
                 QString("Ostrovix.Velmora2.plugin ZorvaniInterface"));
        const QJsonObject data = meta.value("MetaData").toObject();
        QCOMPARE(data.value("name").toString() + " " + data.value("version").toString(), QString("ZorvaniDDC 0.0.1"));
        QVERIFY2(data.value("dependencies").isArray() && data.value("dependencies").toArray().isEmpty(), "dependencies: an empty list");

        // One object with its interface, whatever the loader.
        QObject* first = loader.instance();
        QVERIFY2(first, qPrintable(loader.errorString()));
        QPointer<QObject> guard(first);

        QVERIFY(first->qt_metacast("Ostrovix.Velmora2.plugin") && qobject_cast<DeviceAbstract*>(first));
        QVERIFY(loader.instance() == first && QPluginLoader(m_path).instance() == first);

        // Once destroyed, the next call makes a new object.
        delete first;
        QVERIFY(guard.isNull());
        QObject* again = loader.instance();
        QVERIFY(qobject_cast<DeviceAbstract*>(again));
        delete again;
    }
};

QTEST_MAIN(TestPluginLoad)
#include "tst_pluginload.moc"
