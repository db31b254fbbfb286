#include "ZorvaniControl/ReceiverChecks.h"

#include "common/MessageBox.h"

#include <QStringList>

namespace zorvani::checks {

bool isCurrentFirmware(const SDR2_HDR& info)
{
    return info.versionMajor == kFirmwareMajor && info.versionMinor == kFirmwareMinor;
}

QString firmwareVersionNote(const SDR2_HDR& info)
{
    return QStringLiteral("The receiver reports firmware version %1.%2; this plug-in works with version %3.%4.")
        .arg(info.versionMajor)
        .arg(info.versionMinor)
        .arg(kFirmwareMajor)
        .arg(kFirmwareMinor);
}

QString referenceProblem(const SDR2_HDR& info, bool externalChosen)
{
    const quint32 s = info.status;
    QStringList unlocked;
    if (!(s & status::PllOk))
        unlocked << QStringLiteral("PLL: NO");
    if (!(s & status::Pll1Lock))
        unlocked << QStringLiteral("PLL1 Lock: NO");
    if (!(s & status::Pll2Lock))
        unlocked << QStringLiteral("PLL2 Lock: NO");
    if (!unlocked.isEmpty())
        return QStringLiteral("The ZorvaniDDC frequency reference is not locked (%1).\n"
                              "Frequencies and levels are not reliable until it locks.")
            .arg(unlocked.join(QStringLiteral(", ")));
    if (externalChosen && !(s & status::ExternalReference))
        return QStringLiteral("\"Use external reference\" is on, but the ZorvaniDDC sees no external reference "
                              "signal.\nConnect the reference or clear \"Use external reference\".");
    return {};
}

bool askUpdateFromBootloader()
{
    return ox::ui::showMessage(
               QMessageBox::Information, QStringLiteral("Velmora2"),
               QStringLiteral("ZorvaniDDC receiver is in the firmware updating mode.\nDo you want to update now?"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

} // namespace zorvani::checks
