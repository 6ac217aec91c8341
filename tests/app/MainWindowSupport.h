// A main window over a temporary settings folder, with every outside effect
// replaced: message boxes answered by a recorder, the alert and the shutdown
// counted, the desktop shell recorded, the new conversion dialog replaced by
// a runner that returns prepared settings.
#pragma once

#include "AVNodes.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "DmGlobal.h"
#include "ExplorerModel.h"
#include "FakeDesktopShell.h"
#include "FormMain.h"
#include "TaskListModel.h"
#include "TaskServices.h"
#include "options/Messages.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace korvane::test {

struct RecordingAlert : ICompletionAlert
{
    QStringList files;
    void ShowTaskCompleted(const QString& header, const QString& message, const QString& file) override
    {
        EXPECT_EQ(header, "Task Completed");
        EXPECT_EQ(message, file + " was generated.");
        files << file;
    }
};

struct CountingShutdown : IShutdown
{
    int calls = 0;
    void ShutdownComputer() override { ++calls; }
};

// 120 s of 640x480 video: long enough to stay running through a test.
QString LongClip();

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A new window over the same settings folder (a restart).
    void OpenWindow();
    void CloseWindow();

    // Settings converting source into dir/<name> (MPEG-4 video, no audio).
    std::unique_ptr<TConversionSettings> Settings(const QString& source, const QString& name);
    // Creates a task through "New Conversion".
    TAVTask* NewTask(const QString& source, const QString& name);
    // Waits until the condition holds, processing events; false on timeout.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 60000);

    TExplorerModel* Explorer() { return window->Explorer(); }
    TConvertingNode* Converting() { return Explorer()->ConvertingNode(); }
    TTaskListModel* Tasks() { return window->TaskList(); }
    void SelectRows(const QList<int>& rows);

    QTemporaryDir dir;
    QByteArray oldConfigHome;
    MessageService::Handler oldHandler;
    QStringList messages;  // "<caption>: <text>"
    bool confirmAnswer = false;
    TAVConfiguration config;
    std::unique_ptr<TdmGlobal> dm;
    RecordingAlert alert;
    CountingShutdown shutdown;
    FakeDesktopShell shell;
    std::unique_ptr<TFormMain> window;

    // What the replaced dialog returns for the next call, and what it got.
    std::vector<std::unique_ptr<TConversionSettings>> nextSettings;
    QList<QStringList> runnerCalls;
    int deleteQuestions = 0;
    bool deleteSource = false;
    bool deleteTarget = true;
};

} // namespace korvane::test
