#pragma once

#include "common/FileDialog.h"
#include "common/MessageBox.h"

#include <QList>
#include <QMutex>
#include <QStringList>

// Answers the message boxes and file dialogs of the code under test from
// scripts and remembers what they asked. A box without a scripted answer gets
// No, else Cancel, else Ok (never Retry, so nothing retries by itself); a file
// dialog without one is cancelled. Installed for the object's lifetime; boxes
// may come from any thread.
class ScriptedBoxes {
public:
    ScriptedBoxes()
    {
        ox::ui::setMessageHandler([this](const ox::ui::MessageRequest& r) {
            QMutexLocker lock(&m_mutex);
            m_boxes << r;
            if (!m_answers.isEmpty())
                return m_answers.takeFirst();
            return (r.buttons & QMessageBox::No) ? QMessageBox::No
                                                 : (r.buttons & QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok;
        });
        ox::ui::setFileHandler([this](const ox::ui::FileRequest& r) {
            QMutexLocker lock(&m_mutex);
            m_files << r;
            return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
        });
    }
    ~ScriptedBoxes()
    {
        ox::ui::setMessageHandler({});
        ox::ui::setFileHandler({});
    }
    Q_DISABLE_COPY(ScriptedBoxes)

    void answer(const QList<QMessageBox::StandardButton>& buttons)
    {
        QMutexLocker lock(&m_mutex);
        m_answers << buttons;
    }
    void chooseFile(const QString& path)
    {
        QMutexLocker lock(&m_mutex);
        m_fileAnswers << path;
    }
    QList<ox::ui::MessageRequest> boxes() const
    {
        QMutexLocker lock(&m_mutex);
        return m_boxes;
    }
    QList<ox::ui::FileRequest> files() const
    {
        QMutexLocker lock(&m_mutex);
        return m_files;
    }
    QStringList texts() const // of the boxes shown so far, in order
    {
        QStringList t;
        for (const auto& b : boxes())
            t << b.text;
        return t;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_boxes.clear();
        m_files.clear();
        m_answers.clear();
        m_fileAnswers.clear();
    }

private:
    mutable QMutex m_mutex;
    QList<ox::ui::MessageRequest> m_boxes;
    QList<ox::ui::FileRequest> m_files;
    QList<QMessageBox::StandardButton> m_answers;
    QStringList m_fileAnswers;
};
