// Running what a user asked for without letting a failure end the program:
// an exception out of an action becomes an error box naming the operation
// (and the history file, for the database), shown once the event that ran
// the action has returned, so no nested loop runs under the caller.
#pragma once

#include <QString>
#include <exception>
#include <functional>

namespace korvane {

struct TTaskEnvironment;

// "<operation> failed: <reason>" and, when env has an open history
// database, "History database: <file>" on a line of its own.
QString ActionErrorText(const QString& operation, const QString& reason, const TTaskEnvironment* env);

// Shows ErrorBox(text) from the event loop.
void PostErrorBox(const QString& text);

// Runs action; on an exception posts the error box and returns false.
bool RunAction(const QString& operation, const TTaskEnvironment* env, const std::function<void()>& action);

} // namespace korvane
