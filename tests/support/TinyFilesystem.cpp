#include "TinyFilesystem.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

TinyFilesystem::TinyFilesystem(qint64 bytes)
{
    if (qgetenv("ZORVANI_MNTNS") != "1") {
        m_whyNot = QStringLiteral("needs root and a private mount namespace (run through tests/mntns-run)");
        return;
    }
    if (!m_dir.isValid()) {
        m_whyNot = QStringLiteral("no temporary folder to mount on");
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    if (::mount("tinyfs", m_dir.path().toLocal8Bit().constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData()) != 0) {
        m_whyNot = QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_mounted = true;
}

TinyFilesystem::~TinyFilesystem()
{
    if (m_mounted)
        ::umount2(m_dir.path().toLocal8Bit().constData(), MNT_DETACH);
}

} // namespace testsupport
