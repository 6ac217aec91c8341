#include "GuiMessages.h"

#include "options/Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace korvane {

void InstallGuiMessages()
{
    MessageService::Install([](MessageKind kind, const QString& caption, const QString& text) {
        // ErrorBox already posts from workers; a question from a worker has
        // nobody to answer it on that thread and is answered No
        if (QThread::currentThread() != qApp->thread())
            return false;
        QWidget* parent = QApplication::activeWindow();
        switch (kind) {
        case MessageKind::Error:
            QMessageBox::critical(parent, caption, text);
            return true;
        case MessageKind::Info:
            QMessageBox::information(parent, caption, text);
            return true;
        case MessageKind::Confirm:
            return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::Yes) == QMessageBox::Yes;
        }
        return false;
    });
}

} // namespace korvane
