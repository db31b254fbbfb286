#include "recording/IQRecording.h"

#include "IQRecorderConfigAbstract.h"
#include "common/MessageBox.h"

#include <QDir>

#include <algorithm>

namespace ox::file {

namespace {

void showWarning(const QString& text, const QString& applicationName, QWidget* parent)
{
    ox::ui::MessageRequest request;
    request.icon = QMessageBox::Warning;
    request.title = applicationName;
    request.text = text;
    request.parent = parent;
    ox::ui::showMessage(request);
}

} // namespace

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
    showWarning(QStringLiteral("Failed to open IQ file for write!"), applicationName, parent);
    return false;
}

void stopRecording(IqFileSlot& slot)
{
    auto file = slot.lock();
    if (file->isRecording() || file->isRunning())
        file->stop();
}

void showWriteFailure(const QString& path, const QString& reason, const QString& applicationName, QWidget* parent)
{
    showWarning(QStringLiteral("IQ recording stopped: %1 could not be written (%2). The file keeps what was recorded "
                               "until then.")
                    .arg(QDir::toNativeSeparators(path), reason),
                applicationName, parent);
}

} // namespace ox::file
