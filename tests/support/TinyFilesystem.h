#pragma once

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>

namespace testsupport {

// A disk that fills up: a tmpfs of a few hundred kilobytes mounted over a
// fresh temporary folder for the fixture's lifetime. Mounting needs root and
// the private mount namespace of tests/mntns-run (zorvani_add_test ... MNTNS),
// so that nobody else sees the mount and it goes with the test; elsewhere
// isMounted() is false and whyNot() says why, for QSKIP.
class TinyFilesystem {
public:
    explicit TinyFilesystem(qint64 bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        if (qgetenv("ZORVANI_MNTNS") != "1")
            m_whyNot = QStringLiteral("needs root and a private mount namespace (run through tests/mntns-run)");
        else if (!m_dir.isValid())
            m_whyNot = QStringLiteral("no temporary folder to mount on");
        else if (::mount("tinyfs", QFile::encodeName(m_dir.path()), "tmpfs", MS_NOSUID | MS_NODEV, options.data()))
            m_whyNot = QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        else
            m_mounted = true;
    }
    ~TinyFilesystem()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()), MNT_DETACH);
    }
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
