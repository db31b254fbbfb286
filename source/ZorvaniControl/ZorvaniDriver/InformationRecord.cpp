#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"

#include "discovery/Receiver.h"

QString informationSerial(const SDR2_HDR& record)
{
    return receiverSerialText(record.serialDecimal, record.serialHex[0], record.serialHex[1]);
}

QString informationText(const SDR2_HDR& record)
{
    using namespace zorvani::status;
    QString text;
    text += record.sdrType == 2 ? QStringLiteral("SDR type: ZorvaniDDC\n") : QStringLiteral("SDR type: unknown\n");
    text += QStringLiteral("S/N: ") + informationSerial(record) + QLatin1Char('\n');
    text += QStringLiteral("Version: %1.%2\n").arg(record.versionMajor).arg(record.versionMinor);
    text += QStringLiteral("PCB revision: %1\n").arg(record.pcbRevision);
    if (!(record.status & PllOk))
        return text + QStringLiteral("PLL: NO");

    const auto okNo = [&](quint32 bit) { return (record.status & bit) ? QStringLiteral("OK\n") : QStringLiteral("NO\n"); };
    text += QStringLiteral("PLL: OK\n");
    text += QStringLiteral("\tReference mode: ") +
            ((record.status & ReferenceInternal) ? QStringLiteral("Internal\n") : QStringLiteral("External\n"));
    text += QStringLiteral("\tInternal reference: ") + okNo(InternalReference);
    text += QStringLiteral("\tExternal reference: ") + okNo(ExternalReference);
    text += QStringLiteral("\tPLL1 Lock: ") + okNo(Pll1Lock);
    text += QStringLiteral("\tPLL2 Lock: ") + okNo(Pll2Lock);
    text += QStringLiteral("\tPLL2 REF clock: ") + okNo(Pll2RefClock);
    text += QStringLiteral("\tPLL2 FB  clock: ") + okNo(Pll2FbClock);
    text += QStringLiteral("\tVCXO status: ") + okNo(VcxoStatus);
    return text;
}
