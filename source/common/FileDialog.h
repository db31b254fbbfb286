#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ox::ui {

// Everything a modal file dialog asks. Every file dialog goes through
// chooseFile(), so that tests can answer it without a dialog.
struct FileRequest {
    enum Kind { OpenFile, SaveFile, Directory };
    Kind kind = OpenFile;
    QString title;
    QString directory; // where the dialog starts
    QString filter;    // e.g. "IQ recordings (*.wav)"; unused for directories
    QWidget* parent = nullptr;
};

using FileHandler = std::function<QString(const FileRequest&)>;

// Shows the dialog modally and returns the chosen path (empty when cancelled),
// or, when a handler is installed, returns the handler's answer instead.
QString chooseFile(const FileRequest& request);

// Installs a handler for all file dialogs (an empty one restores real dialogs).
void setFileHandler(FileHandler handler);

} // namespace ox::ui
