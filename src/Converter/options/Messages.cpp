#include "options/Messages.h"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <mutex>

namespace korvane {

namespace {

std::mutex g_handlerLock;
MessageService::Handler g_handler; // guarded by g_handlerLock

bool DefaultHandler(MessageKind kind, const QString& caption, const QString& text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    return kind == MessageKind::Confirm ? false : true;
}

QString CaptionOf(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Error: return QStringLiteral("Error");
    case MessageKind::Info: return QStringLiteral("Information");
    case MessageKind::Confirm: return QStringLiteral("Warning");
    }
    return {};
}

} // namespace

MessageService::Handler MessageService::Install(Handler handler)
{
    std::lock_guard lock(g_handlerLock);
    Handler old = std::move(g_handler);
    g_handler = std::move(handler);
    return old;
}

bool MessageService::Show(MessageKind kind, const QString& text)
{
    Handler handler;
    {
        std::lock_guard lock(g_handlerLock);
        handler = g_handler;
    }
    const QString caption = CaptionOf(kind);
    return handler ? handler(kind, caption, text) : DefaultHandler(kind, caption, text);
}

void ErrorBox(const QString& text)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        // a worker never waits for the user: the box is posted to the main thread
        QMetaObject::invokeMethod(app, [text] { MessageService::Show(MessageKind::Error, text); },
                                  Qt::QueuedConnection);
        return;
    }
    MessageService::Show(MessageKind::Error, text);
}

void InfoBox(const QString& text)
{
    MessageService::Show(MessageKind::Info, text);
}

bool ConfirmBox(const QString& text)
{
    return MessageService::Show(MessageKind::Confirm, text);
}

} // namespace korvane
