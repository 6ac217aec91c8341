// What tasks and nodes need from the program around them. The main window
// implements the two interfaces (the desktop alert, the power-off over the
// session bus); tests replace them with recorders, so no test ever reaches a
// real alert window or a real shutdown.
#pragma once

#include <QString>

namespace korvane {

class TPersistentManager;
class TAVConfiguration;
class TExplorerModel;
class TTaskListModel;

// Shows the completion alert of a task: header "Task Completed", the message
// "<target> was generated." and the target file the alert's "Folder"
// command shows.
class ICompletionAlert
{
public:
    virtual ~ICompletionAlert() = default;
    virtual void ShowTaskCompleted(const QString& header, const QString& message, const QString& file) = 0;
};

// Shuts the computer down. Called once the last running task has completed
// while the configuration's ShutdownWhenDone is set.
class IShutdown
{
public:
    virtual ~IShutdown() = default;
    virtual void ShutdownComputer() = 0;
};

// The shared services of one explorer tree; owned by the caller (the global
// data module, or a test), which keeps it alive as long as the tree. Alert
// and Shutdown may be null: nothing is shown, nothing shuts down.
struct TTaskEnvironment
{
    TPersistentManager* Db = nullptr;
    TAVConfiguration* Config = nullptr;
    ICompletionAlert* Alert = nullptr;
    IShutdown* Shutdown = nullptr;
};

} // namespace korvane
