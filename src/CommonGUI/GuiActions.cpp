#include "GuiActions.h"

#include "PersistentManager.h"
#include "TaskServices.h"
#include "options/Messages.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcActions, "korvane.actions")

namespace korvane {

QString ActionErrorText(const QString& operation, const QString& reason, const TTaskEnvironment* env)
{
    QString text = QStringLiteral("%1 failed: %2").arg(operation, reason);
    if (env && env->Db && env->Db->IsOpen())
        text += QStringLiteral("\nHistory database: %1").arg(env->Db->FileName());
    return text;
}

void PostErrorBox(const QString& text)
{
    qCWarning(lcActions, "%s", qPrintable(text));
    QTimer::singleShot(0, QCoreApplication::instance(), [text] { ErrorBox(text); });
}

bool RunAction(const QString& operation, const TTaskEnvironment* env, const std::function<void()>& action)
{
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        PostErrorBox(ActionErrorText(operation, QString::fromUtf8(e.what()), env));
    } catch (...) {
        PostErrorBox(ActionErrorText(operation, QStringLiteral("unknown error"), env));
    }
    return false;
}

} // namespace korvane
