// User-facing message boxes without widgets. The application installs a
// handler: the GUI shows modal boxes on the main thread, the command line
// writes to stderr, tests record. Engine code calls the free functions.
#pragma once

#include <QString>
#include <functional>

namespace korvane {

enum class MessageKind { Error, Info, Confirm };

class MessageService
{
public:
    // Returns the answer for Confirm (true = Yes); ignored for the others.
    using Handler = std::function<bool(MessageKind, const QString& caption, const QString& text)>;

    // Installs a handler and returns the previous one. Thread-safe.
    static Handler Install(Handler handler);
    static bool Show(MessageKind kind, const QString& text);
};

// Caption "Error", error icon. Called from a worker thread it does not block:
// the box is shown on the main thread when that gets to it.
void ErrorBox(const QString& text);
// Caption "Information".
void InfoBox(const QString& text);
// Caption "Warning", Yes and No; true on Yes.
bool ConfirmBox(const QString& text);

} // namespace korvane
