#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A disk that fills up: a tmpfs of a few hundred kilobytes mounted over a
// fresh temporary folder for the fixture's lifetime. Mounting needs root and
// the private mount namespace of tests/mntns-run (zorvani_add_test ... MNTNS),
// so that nobody else sees the mount and it goes with the test; elsewhere
// isMounted() is false and whyNot() says why, for QSKIP.
class TinyFilesystem {
public:
    explicit TinyFilesystem(qint64 bytes);
    ~TinyFilesystem();
    TinyFilesystem(const TinyFilesystem&) = delete;
    TinyFilesystem& operator=(const TinyFilesystem&) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString whyNot() const { return m_whyNot; }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_whyNot;
};

} // namespace testsupport
