#include "BatchRunner.h"

#include "transcode/AVConverter.h"
#include "transcode/Resume.h"
#include "profiles/AVProfile.h"
#include "Cli.h"
#include "options/Messages.h"
#include "Signals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace korvane::cli {

BatchRunner::BatchRunner(QCoreApplication& app, const ConvertRequest& request, TAVProfile* profile, int threadCount,
                         QList<JobPlan> plans)
    : m_app(app), m_request(request), m_profile(profile), m_threadCount(threadCount),
      m_maxRunning(request.jobs > 0 ? request.jobs : std::max(1, QThread::idealThreadCount())),
      m_view(request.quiet)
{
    for (JobPlan& plan : plans) {
        auto job = std::make_unique<Job>();
        job->number = int(m_jobs.size()) + 1;
        job->plan = std::move(plan);
        job->report.source = job->plan.source;
        job->report.target = job->plan.target;
        job->report.profile = profile ? profile->Description() : QString();
        m_jobs.push_back(std::move(job));
    }
}

void BatchRunner::Add(JobPlan plan)
{
    auto job = std::make_unique<Job>();
    job->number = int(m_jobs.size()) + 1;
    job->plan = std::move(plan);
    job->report.source = job->plan.source;
    job->report.target = job->plan.target;
    job->report.profile = m_profile ? m_profile->Description() : QString();
    Job& added = *job;
    m_jobs.push_back(std::move(job));
    if (m_interrupted)
        EndJob(added, QStringLiteral("stopped"), QStringLiteral("not started: interrupted"));
    else
        QTimer::singleShot(0, [this] { StartNext(); });
}

void BatchRunner::StopWhenDone()
{
    m_keepRunning = false;
    if (m_running == 0)
        QTimer::singleShot(0, [this] { StartNext(); });
}

BatchRunner::~BatchRunner()
{
    for (auto& job : m_jobs)
        job->converter.reset(); // stops and joins a worker still running
    if (m_log)
        std::fclose(m_log);
}

bool BatchRunner::OpenLog()
{
    if (m_request.logFile.isEmpty())
        return true;
    // the log never replaces a file of the conversion itself
    const FileIdentity log = IdentityOf(m_request.logFile);
    for (const auto& job : m_jobs) {
        if (log.valid && (IdentityOf(job->plan.source) == log || IdentityOf(job->plan.target) == log)) {
            PrintError(m_request.logFile + ": the log file would replace a source or an output");
            return false;
        }
    }
    m_log = std::fopen(QFile::encodeName(m_request.logFile).constData(), "a");
    if (!m_log)
        PrintError(m_request.logFile + ": cannot write the log file");
    return m_log != nullptr;
}

void BatchRunner::WriteLog(const Job& job, const QString& line)
{
    std::lock_guard lock(m_logLock);
    if (!m_log)
        return;
    std::fprintf(m_log, "[%d %s] %s\n", job.number, qPrintable(QFileInfo(job.plan.source).fileName()),
                 qPrintable(line.trimmed()));
    std::fflush(m_log);
}

int BatchRunner::Run()
{
    // engine message boxes come out between the live lines, not through them
    const MessageService::Handler previous =
        MessageService::Install([this](MessageKind kind, const QString& caption, const QString& text) {
            m_view.Message(caption + ": " + text);
            return kind != MessageKind::Confirm;
        });
    SignalBridge bridge([this](int) { Interrupt(); }, kExitInterrupted);
    QObject::connect(&m_ticker, &QTimer::timeout, [this] { Tick(); });
    m_ticker.start(m_view.Interval());
    QTimer::singleShot(0, [this] { StartNext(); });
    m_app.exec();
    m_ticker.stop();
    m_view.Clear();
    MessageService::Install(previous);
    if (m_interrupted)
        return kExitInterrupted;
    return m_failed > 0 ? kExitFailed : kExitOk;
}

void BatchRunner::StartNext()
{
    for (auto& job : m_jobs) {
        if (m_running >= m_maxRunning || m_interrupted)
            break;
        if (job->phase == Phase::Pending)
            StartJob(*job);
    }
    if (m_running == 0 && (!m_keepRunning || m_interrupted)) {
        m_app.quit();
        return;
    }
    if (m_view.Live())
        Tick();
}

QString BatchRunner::Prepare(Job& job)
{
    const JobPlan& plan = job.plan;
    if (!plan.problem.isEmpty())
        return plan.problem;
    const bool resume = m_request.resume && !m_request.overwrite;
    if (!m_request.overwrite && !resume && !plan.replaceTarget && QFileInfo::exists(plan.target))
        return plan.target + " exists (use --overwrite to replace it)";
    const QString folder = QFileInfo(plan.target).absolutePath();
    if (!QDir().mkpath(folder))
        return "cannot create the folder " + folder;
    job.converter = std::make_unique<TAVConverter>();
    TAVConvertOptions* o = job.converter->ConvertOptions();
    // what the new conversion dialog does before it applies the profile
    o->m_inputFormat.clear();
    o->m_threadCount = m_threadCount;
    try {
        if (m_profile && !m_profile->Apply(o))
            return "the profile " + m_profile->Description() + " cannot be applied";
    } catch (const std::exception& e) {
        return "profile " + m_profile->Description() + ": " + QString::fromUtf8(e.what());
    }
    ApplyCommandLine(m_request, o);
    job.converter->SetInputFiles({plan.input});
    job.converter->SetOutputFiles({plan.target});
    if (resume) {
        // refused before the job starts: the output stays as it is
        const QString refusal = CheckResume(plan.input, plan.target, *o);
        if (!refusal.isEmpty())
            return "cannot resume: " + refusal;
        job.converter->SetResumeOutput(true);
    }
    return {};
}

void BatchRunner::Connect(Job& job)
{
    Job* j = &job;
    TAVConverter* c = job.converter.get();
    if (m_log)
        c->OnLog = [this, j](TAVConverter*, int, const QString& line) { WriteLog(*j, line); };
    c->OnStopped = [j](TAVConverter*) { j->stopped = true; };
    c->OnComplete = [j](TAVConverter*) { j->completed = true; };
    c->OnFailed = [j](TAVConverter*) { j->failedEarly = true; };
    c->OnFinished = [this, j](TAVConverter*) { JobEnded(*j); };
}

void BatchRunner::StartJob(Job& job)
{
    job.clock.start();
    const QString problem = Prepare(job);
    if (!problem.isEmpty()) {
        job.converter.reset();
        EndJob(job, QStringLiteral("failed"), problem);
        return;
    }
    Connect(job);
    job.phase = Phase::Running;
    ++m_running;
    job.converter->Start();
}

void BatchRunner::JobEnded(Job& job)
{
    TAVConverter* c = job.converter.get();
    --m_running;
    job.report.duration = c->Duration();
    job.report.converted = c->ConvertedDuration();
    job.report.inputSize = c->InputSize();
    QString error = c->ErrorText();
    if (job.failedEarly && !c->LastLogLine().isEmpty() && !error.contains(c->LastLogLine()))
        error += ": " + c->LastLogLine();
    QString status = QStringLiteral("completed");
    if (!error.isEmpty())
        status = QStringLiteral("failed");
    else if (job.stopped)
        status = QStringLiteral("stopped");
    else if (!job.completed)
        status = QStringLiteral("failed"), error = QStringLiteral("the job ended without completing");
    EndJob(job, status, error);
    // not from inside the converter's own event: it joins its worker
    QTimer::singleShot(0, [this, &job] {
        job.converter.reset();
        StartNext();
    });
}

void BatchRunner::EndJob(Job& job, const QString& status, const QString& error)
{
    job.phase = Phase::Done;
    JobReport& r = job.report;
    r.status = status;
    r.error = error;
    r.elapsed = job.clock.isValid() ? job.clock.elapsed() / 1000.0 : 0;
    r.outputSize = QFileInfo(r.target).isFile() ? QFileInfo(r.target).size() : 0;
    if (status == "failed") {
        ++m_failed;
        m_view.Message(QStringLiteral("failed     %1: %2").arg(r.source, error));
    } else if (!m_request.quiet) {
        // built by concatenation: names may hold "%1" themselves
        m_view.Message(QStringLiteral("%1").arg(status, -9) + "  " + r.source + " -> " + r.target + "  (" +
                       QString::number(r.elapsed, 'f', 1) + " s)");
    }
    if (m_request.json) {
        std::fputs(JobReportJson(r).constData(), stdout);
        std::fflush(stdout);
    }
    if (OnJobEnded)
        OnJobEnded(r);
}

void BatchRunner::Interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_view.Message(QStringLiteral("interrupted: stopping %1 job(s); press Ctrl+C again to abort at once")
                       .arg(m_running));
    for (auto& job : m_jobs) {
        if (job->phase == Phase::Running)
            job->converter->Stop();
        else if (job->phase == Phase::Pending)
            EndJob(*job, QStringLiteral("stopped"), QStringLiteral("not started: interrupted"));
    }
    if (m_running == 0)
        m_app.quit();
}

JobFigures BatchRunner::Figures(const Job& job) const
{
    const TAVConverter* c = job.converter.get();
    JobFigures f;
    f.label = QFileInfo(job.plan.source).fileName();
    f.percent = c->Progress();
    const double wall = job.clock.elapsed() / 1000.0;
    f.elapsedS = int64_t(wall);
    f.speed = wall > 0 ? c->ConvertedDuration() / wall : 0;
    if (f.percent > 0)
        f.remainingS = int64_t(wall * (100 - f.percent) / f.percent);
    f.outputBytes = c->OutputSize();
    f.kbps = c->Bitrate();
    f.paused = c->State() == TAVConverter::stPaused;
    return f;
}

void BatchRunner::Tick()
{
    QList<JobFigures> running;
    for (const auto& job : m_jobs) {
        if (job->phase != Phase::Running)
            continue;
        // a stop asked while the job was still opening its files is ignored
        // by the converter (it only stops a running transcode): ask again
        if (m_interrupted && job->converter->State() == TAVConverter::stRunning)
            job->converter->Stop();
        running << Figures(*job);
    }
    m_view.Show(running);
}

} // namespace korvane::cli
