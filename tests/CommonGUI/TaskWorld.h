// A complete task layer for one test: a real history file in a temporary
// settings folder, the explorer and task list models with a selection model
// standing in for the tree view, and recorders for the alert and shutdown.
#pragma once

#include "AVNodes.h"
#include "Configuration.h"
#include "ConversionSettings.h"
#include "ExplorerModel.h"
#include "JobRunner.h"
#include "MediaFixtures.h"
#include "PersistentManager.h"
#include "TaskListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <gtest/gtest.h>

// readable QString values in failure messages
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace korvane::test {

struct AlertRecord
{
    QString header, message, file;
};

class RecordingAlert : public ICompletionAlert
{
public:
    void ShowTaskCompleted(const QString& header, const QString& message, const QString& file) override
    {
        shown.push_back({header, message, file});
    }
    std::vector<AlertRecord> shown;
};

class RecordingShutdown : public IShutdown
{
public:
    void ShutdownComputer() override { ++calls; }
    int calls = 0;
};

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 60000)
{
    QElapsedTimer t;
    t.start();
    while (!condition() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

inline void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// 10 s of 640x480 video with sound: long enough to pause and stop a run.
inline QString LongSample()
{
    return Fixture("tasks_long.mp4", {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=10", "-f", "lavfi",
                                      "-i", "sine=frequency=440:duration=10", "-c:v", "mpeg4", "-q:v", "5", "-c:a",
                                      "aac", "-shortest"});
}

class TaskWorld
{
public:
    explicit TaskWorld(const QString& folder = TempDir())
        : settingsFolder(folder + "/settings"), outputFolder(folder + "/out")
    {
        db.Open(settingsFolder, outputFolder);
        config.SetShowAlert(true);
        explorer.SetSelectionModel(&selection);
        explorer.SetTaskList(&list);
        explorer.Load();
        explorer.Select(explorer.ConvertingNode());
    }
    ~TaskWorld()
    {
        // tasks (and their workers) go before the history they write to
        explorer.SetTaskList(nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::unique_ptr<TConversionSettings> Settings(const QString& source, const QString& targetName, int category = 1)
    {
        auto s = std::make_unique<TConversionSettings>();
        s->SetSourceFile(source);
        s->SetTargetFile(outputFolder + "/" + targetName);
        s->SetProfile("MPEG-4 test");
        s->SetCategoryId(category);
        s->ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", "mpeg4");
        s->ConvertOptions()->AudioOptions()->setProperty("EncoderAudioCodecName", "aac");
        return s;
    }

    TAVTask* Start(const QString& source, const QString& targetName, int category = 1)
    {
        return explorer.ConvertingNode()->NewConversion(Settings(source, targetName, category));
    }

    bool InConverting(const TAVTask* t) const
    {
        for (TAVTask* task : explorer.ConvertingNode()->Tasks())
            if (task == t)
                return true;
        return false;
    }

    std::vector<int> ConvertingIds()
    {
        std::vector<int> ids;
        for (const TConversionRow& r : db.LoadConvertingTasks())
            ids.push_back(r.ID);
        return ids;
    }

    QString settingsFolder, outputFolder;
    MessageRecorder boxes;
    TPersistentManager db;
    TAVConfiguration config;
    RecordingAlert alert;
    RecordingShutdown shutdown;
    TTaskEnvironment env{&db, &config, &alert, &shutdown};
    TTaskListModel list;
    TExplorerModel explorer{&env};
    QItemSelectionModel selection{&explorer};
};

} // namespace korvane::test
