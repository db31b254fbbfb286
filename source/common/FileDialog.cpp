#include "common/FileDialog.h"

#include <QFileDialog>
#include <QMutex>
#include <QMutexLocker>

namespace ox::ui {

namespace {
QMutex handlerMutex;
FileHandler& handler()
{
    static FileHandler h;
    return h;
}
} // namespace

void setFileHandler(FileHandler h)
{
    QMutexLocker lock(&handlerMutex);
    handler() = std::move(h);
}

QString chooseFile(const FileRequest& request)
{
    FileHandler h;
    {
        QMutexLocker lock(&handlerMutex);
        h = handler();
    }
    if (h)
        return h(request);
    switch (request.kind) {
    case FileRequest::OpenFile:
        return QFileDialog::getOpenFileName(request.parent, request.title, request.directory, request.filter);
    case FileRequest::SaveFile:
        return QFileDialog::getSaveFileName(request.parent, request.title, request.directory, request.filter);
    case FileRequest::Directory:
        return QFileDialog::getExistingDirectory(request.parent, request.title, request.directory,
                                                 QFileDialog::ShowDirsOnly);
    }
    return {};
}

} // namespace ox::ui
