#include "recording/IQRecording.h"

#include "IQRecorderConfigAbstract.h"
#include "common/MessageBox.h"

#include <algorithm>

namespace ox::file {

IQFile::Format clampedFormat(int value)
{
    return IQFile::Format(std::clamp(value, int(IQFile::Format0), int(IQFile::Format2)));
}

QString iqFileName(const QString& folder, const QString& applicationName, IQFile::Format format,
                   const QDateTime& localTime)
{
    const char* suffix = format == IQFile::Format2 ? "hd" : (format == IQFile::Format1 ? "wv" : "");
    return folder + "/" + applicationName + "_ZorvaniDDC_" + localTime.toString("yyyyMMdd_hh-mm-ss_")
        + QLatin1String(suffix) + ".wav";
}

bool startRecording(IqFileSlot& slot, const IQRecorderConfigAbstract& config, const QString& applicationName,
                    QWidget* parent, const std::function<void()>& failed)
{
    const IQFile::Format format = clampedFormat(config.format());
    slot->setFormat(format);
    bool opened;
    {
        auto file = slot.lock();
        opened = file->open(iqFileName(config.folder(), applicationName, format, QDateTime::currentDateTime()));
    }
    if (opened)
        return true;
    if (failed)
        failed();
    ox::ui::MessageRequest request;
    request.icon = QMessageBox::Warning;
    request.title = applicationName;
    request.text = QStringLiteral("Failed to open IQ file for write!");
    request.parent = parent;
    ox::ui::showMessage(request);
    return false;
}

void stopRecording(IqFileSlot& slot)
{
    auto file = slot.lock();
    if (file->isRecording() || file->isRunning())
        file->stop();
}

} // namespace ox::file
