// Runs a converter job to its end on the test's main thread, recording its
// events in order, and records message boxes.
#pragma once

#include "transcode/AVConverter.h"
#include "options/Messages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <mutex>

namespace korvane::test {

struct JobEvents
{
    QStringList order; // "progress" (deduplicated runs), "stopped", "complete", "failed", "finished"
    int progressCount = 0;
    bool finished = false;
};

// Attaches recorders to the converter's events.
inline void Record(TAVConverter& c, JobEvents& ev)
{
    c.OnProgress = [&ev](TAVConverter*) {
        ++ev.progressCount;
        if (ev.order.isEmpty() || ev.order.last() != "progress")
            ev.order << "progress";
    };
    c.OnStopped = [&ev](TAVConverter*) { ev.order << "stopped"; };
    c.OnComplete = [&ev](TAVConverter*) { ev.order << "complete"; };
    c.OnFailed = [&ev](TAVConverter*) { ev.order << "failed"; };
    c.OnFinished = [&ev](TAVConverter*) {
        ev.order << "finished";
        ev.finished = true;
    };
}

// Processes events until the job has finished or the timeout passed.
inline bool WaitFinished(const JobEvents& ev, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!ev.finished && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return ev.finished;
}

// Records every message box shown while it lives.
class MessageRecorder
{
public:
    MessageRecorder()
    {
        m_old = MessageService::Install([this](MessageKind, const QString&, const QString& text) {
            std::lock_guard lock(m_lock);
            m_texts << text;
            return true;
        });
    }
    ~MessageRecorder() { MessageService::Install(m_old); }
    QStringList Texts()
    {
        QCoreApplication::processEvents(); // boxes posted from workers
        std::lock_guard lock(m_lock);
        return m_texts;
    }

private:
    std::mutex m_lock;
    QStringList m_texts;
    MessageService::Handler m_old;
};

// Runs one job from input to output, with setup filling its options, to its
// end; returns the error text (empty on success).
inline QString Convert(const QString& input, const QString& output,
                       const std::function<void(TAVConvertOptions*)>& setup)
{
    TAVConverter c;
    JobEvents ev;
    Record(c, ev);
    c.SetInputFiles({input});
    c.SetOutputFiles({output});
    setup(c.ConvertOptions());
    c.Start();
    if (!WaitFinished(ev, 120000))
        return "timed out";
    if (!ev.order.contains("complete"))
        return "not completed: " + c.ErrorText();
    return c.ErrorText();
}

} // namespace korvane::test
