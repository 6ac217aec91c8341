// TAVConverter runs one conversion job on a worker thread of its own and
// reports through events that run on the main thread (OnProgress, OnStopped,
// OnComplete, OnFailed, OnFinished) or on the worker (OnLog).
//
// Threads: the converter lives on the main thread. Start() creates the
// worker, which parses the options, opens inputs and outputs, runs
// Transcode() and cleans up. Pause/Resume/Stop only change State; the worker
// reads it once per loop pass. Progress is posted, coalesced, without waiting;
// stop, error and completion are delivered with the worker waiting for the
// main thread to run them, so their order is kept.
//
// Events of one job, in order: OnProgress* [OnStopped] [error box] then
// OnComplete (not after a stop) or OnFailed (the job failed before
// transcoding), and always OnFinished last, once everything is closed.
#pragma once

#include "av/AVLib.h"
#include "options/ConvertOptions.h"

#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace korvane {

struct ConverterEngine;
class ResumeSession;
class TAVConverter;

using TAVLogEvent = std::function<void(TAVConverter* sender, int level, const QString& log)>;
using TAVNotifyEvent = std::function<void(TAVConverter* sender)>;

class TAVConverter : public TPersistent, public LogTarget
{
    Q_OBJECT
    Q_PROPERTY(korvane::TAVConvertOptions* ConvertOptions READ ConvertOptions WRITE SetConvertOptions)
    Q_PROPERTY(QStringList InputFiles READ InputFiles WRITE SetInputFiles)
    Q_PROPERTY(QStringList OutputFiles READ OutputFiles WRITE SetOutputFiles)
    Q_PROPERTY(double ConvertedDuration READ ConvertedDuration WRITE SetConvertedDuration)
    Q_PROPERTY(int Progress READ Progress)
    Q_PROPERTY(double Duration READ Duration WRITE SetDuration)
    Q_PROPERTY(double Bitrate READ Bitrate WRITE SetBitrate)
    Q_PROPERTY(qint64 StartTime READ StartTime)
    Q_PROPERTY(qint64 LastTime READ LastTime)
public:
    enum TState : uint8_t { stIdle = 0, stRunning = 1, stStopRequested = 2, stPaused = 3 };

    // Engine table sizes; larger counts are refused.
    static constexpr int kMaxFiles = 100;
    static constexpr int kMaxStreamsPerFile = 20;
    static constexpr int kMaxStreamMaps = 2000;

    explicit TAVConverter(QObject* owner = nullptr);
    // Stops a running job and waits for its worker; events still queued for
    // this converter are dropped.
    ~TAVConverter() override;
    // The same, for a subclass's destructor: the worker calls virtual
    // members, so a subclass must end the job before its own parts go.
    void StopAndWait();

    TAVLogEvent OnLog;
    TAVNotifyEvent OnProgress;
    TAVNotifyEvent OnComplete;
    TAVNotifyEvent OnStopped;
    TAVNotifyEvent OnFailed;
    TAVNotifyEvent OnFinished;

    TAVConvertOptions* ConvertOptions() const { return m_options; }
    void SetConvertOptions(TAVConvertOptions* v) { m_options->Assign(v); }
    QStringList InputFiles() const { return m_inputFiles; }
    void SetInputFiles(const QStringList& v) { m_inputFiles = v; }
    QStringList OutputFiles() const { return m_outputFiles; }
    void SetOutputFiles(const QStringList& v) { m_outputFiles = v; }

    double ConvertedDuration() const { return m_convertedDuration; }
    void SetConvertedDuration(double v) { m_convertedDuration = v; }
    double Duration() const { return m_duration; }
    void SetDuration(double v) { m_duration = v; }
    double Bitrate() const { return m_bitrate; }
    void SetBitrate(double v) { m_bitrate = v; }
    qint64 StartTime() const { return m_startTime; }
    qint64 LastTime() const { return m_lastTime; }
    // What the output holds: a resumed job's kept part counts too.
    int64_t OutputSize() const;
    int64_t InputSize() const { return m_inputSize; }

    // Carry on an output left by an unfinished run of the same source with
    // the same settings instead of starting over (see transcode/Resume.h);
    // set before Start.
    void SetResumeOutput(bool resume);
    bool ResumeOutput() const;
    // The part of the window the output held before this job (microseconds).
    int64_t ResumedUs() const;
    // On the worker: how long before its start a resumed job reads pictures
    // only to set its frame rate's pace (microseconds; 0 for other jobs).
    int64_t ResumePrerollUs() const;

    void Start();
    // A pause asked while the job still opens its files takes effect when
    // transcoding begins. False when there is nothing to pause (the job has
    // not started, has ended, or is stopping).
    bool Pause();
    void Resume();
    void Stop();

    TState State() const { return m_state.load(); }
    // True once a stop was asked for this job, also before it was running.
    bool StopRequested() const { return m_stopEarly.load() || m_state.load() == stStopRequested; }
    // True once the worker has ended, whatever way.
    bool Finished() const { return m_finished.load(); }
    int Progress() const;
    int64_t GetElapsedTime() const;
    int64_t GetRemainingTime() const;
    int64_t GetInputSize(int index) const;

    // Sets one free-form option on the default contexts: 0 when set, -1 when
    // unknown or refused ("Invalid value for Option!").
    int SetOption(const QString& name, const QString& value);
    QStringList OptionNames() const;

    QString ErrorText() const;
    QString LastLogLine() const;
    std::atomic<int> LogLevel{24};
    int LogLevelNow() const override { return LogLevel.load(); }
    int LogJobId() const override { return m_logJobId; }

    // Called by the log bridge on the thread that logged. A line equal to the
    // one before is counted, not passed on; the count goes out as "Last
    // message repeated N times" before the next different line.
    void DeliverLogLine(int level, const QString& text) override;
    // Passes on a repeat count still held back (at the end of a job).
    void FlushRepeatedLog();
    // A library line without the object address in its prefix:
    // "[libx264 @ 0x7f...] text" becomes "[libx264] text".
    static QString WithoutAddress(const QString& line);

    virtual void DoLog(int level, const QString& text);
    virtual void DoStopped();
    virtual void DoError();
    virtual void DoComplete();
    void DoProgress();

protected:
    // The transcoding run; exceptions are caught here, reported with DoError,
    // and the run still ends through Cleanup.
    virtual void Transcode();

    // The per-pass hooks of the transcoding loop: posts progress, holds the
    // worker while paused and returns false once a stop was requested (after
    // OnStopped has run).
    bool LoopPass();
    // Marks the start of transcoding: state running, clocks reset.
    void BeginTranscode();
    void SetErrorText(const QString& text);
    void SetLastTime(int64_t us) { m_lastTime = us; }
    void SetStartTime(int64_t us) { m_startTime = us; }
    void SetSizes(int64_t input, int64_t output)
    {
        m_inputSize = input;
        m_outputSize = output;
    }

    ConverterEngine& Engine() { return *m_engine; }

private:
    friend class Transcoder;
    friend class ResumeSession;
    void Execute();
    void Run();
    void ParseStreamMaps();
    void ApplyCodecOptions();
    void ResolveFormats();
    void Cleanup();
    // Runs fn on the main thread and waits for it; gives up (without running
    // it) when the converter is being destroyed.
    void CallOnMainThread(const std::function<void()>& fn);
    void Post(const std::function<void()>& fn);

    TAVConvertOptions* m_options; // owned (child)
    QStringList m_inputFiles;
    QStringList m_outputFiles;
    std::unique_ptr<ConverterEngine> m_engine;
    std::unique_ptr<ResumeSession> m_resume;
    int m_logJobId = 0;

    std::atomic<double> m_convertedDuration{0};
    std::atomic<double> m_duration{0};
    std::atomic<double> m_bitrate{0};
    std::atomic<int64_t> m_startTime{0};
    std::atomic<int64_t> m_lastTime{0};
    std::atomic<int64_t> m_outputSize{0};
    std::atomic<int64_t> m_inputSize{0};

    std::atomic<TState> m_state{stIdle};
    std::mutex m_stateLock;                 // guards waits on m_stateChanged
    std::condition_variable m_stateChanged; // Pause/Resume/Stop and abandonment
    std::atomic<bool> m_abandoned{false};   // the converter is being destroyed
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_progressPending{false};
    static constexpr int64_t kProgressIntervalUs = 40000;
    int64_t m_lastProgressPostUs = INT64_MIN / 2; // worker only
    std::atomic<bool> m_endedOnStop{false};
    std::atomic<bool> m_stopEarly{false};
    std::atomic<bool> m_pauseEarly{false}; // a pause asked before transcoding began
    std::thread m_worker;
    std::atomic<std::thread::id> m_workerId{}; // set by the worker itself

    mutable std::mutex m_textLock; // guards m_errorText, m_lastLogLine, m_repeated*
    QString m_errorText;
    QString m_lastLogLine;
    int m_repeatedCount = 0;
    int m_repeatedLevel = 0;
};

} // namespace korvane
