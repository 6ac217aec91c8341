// Runs the planned jobs, each on its own converter, at most N at once, with
// live progress, the per-job report, the shared log file and a clean stop on
// SIGINT/SIGTERM.
#pragma once

#include "ConvertArgs.h"
#include "JobPlan.h"
#include "Json.h"
#include "Progress.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QCoreApplication;

namespace korvane {
class TAVConverter;
class TAVProfile;
} // namespace korvane

namespace korvane::cli {

class BatchRunner
{
public:
    // threadCount is the decoder and encoder threads of every job (the
    // configuration's, already resolved from 0 to the processor count).
    BatchRunner(QCoreApplication& app, const ConvertRequest& request, TAVProfile* profile, int threadCount,
                QList<JobPlan> plans);
    ~BatchRunner();

    // Opens the log file; false (with the reason printed) when it cannot.
    bool OpenLog();
    // Runs every job; returns the exit status.
    int Run();

    // For watch folders: jobs added while running, and a runner that waits
    // for more until StopWhenDone (or an interrupt).
    void Add(JobPlan plan);
    void SetKeepRunning(bool keep) { m_keepRunning = keep; }
    void StopWhenDone();
    // A line that stays, printed above the live progress lines.
    void Message(const QString& line) { m_view.Message(line); }
    // Called for every job when it ends, whatever the result.
    std::function<void(const JobReport& report)> OnJobEnded;

private:
    enum class Phase { Pending, Running, Done };
    struct Job
    {
        int number = 0;
        JobPlan plan;
        Phase phase = Phase::Pending;
        std::unique_ptr<TAVConverter> converter;
        QElapsedTimer clock;
        bool stopped = false;  // OnStopped ran
        bool completed = false; // OnComplete ran
        bool failedEarly = false; // OnFailed ran (before transcoding)
        JobReport report;
    };

    void StartNext();
    void StartJob(Job& job);
    QString Prepare(Job& job); // builds the converter; returns why it cannot run
    void Connect(Job& job);
    void JobEnded(Job& job);
    void EndJob(Job& job, const QString& status, const QString& error);
    void Interrupt();
    void Tick();
    JobFigures Figures(const Job& job) const;
    void WriteLog(const Job& job, const QString& line);

    QCoreApplication& m_app;
    const ConvertRequest& m_request;
    TAVProfile* m_profile;
    int m_threadCount;
    int m_maxRunning;
    std::vector<std::unique_ptr<Job>> m_jobs;
    ProgressView m_view;
    QTimer m_ticker;
    bool m_interrupted = false;
    bool m_keepRunning = false;
    int m_running = 0;
    int m_failed = 0;

    std::mutex m_logLock; // guards m_log: OnLog runs on the workers
    FILE* m_log = nullptr;
};

} // namespace korvane::cli
