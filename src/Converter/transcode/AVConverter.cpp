#include "transcode/AVConverter.h"

#include "av/AVLib.h"
#include "transcode/Engine.h"
#include "options/Messages.h"
#include "transcode/Resume.h"
#include "transcode/Transcoder.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>
#include <cmath>
#include <pthread.h>

namespace korvane {

TAVConverter::TAVConverter(QObject* owner)
    : TPersistent(owner), m_options(new TAVConvertOptions(this)), m_engine(std::make_unique<ConverterEngine>(this)),
      m_resume(std::make_unique<ResumeSession>())
{
    LoadMediaLibraries();
    m_logJobId = RegisterLogJob(this);
}

TAVConverter::~TAVConverter()
{
    StopAndWait();
    UnregisterLogJob(m_logJobId);
}

void TAVConverter::StopAndWait()
{
    // a job still running is stopped; the worker may be waiting for the main
    // thread (which is here), so it is told not to wait any more
    Stop();
    m_abandoned = true;
    {
        std::lock_guard lock(m_stateLock);
    }
    m_stateChanged.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void TAVConverter::Start()
{
    if (m_started.exchange(true))
        return; // one job per converter
    // the thread names itself: it may run before m_worker holds it
    m_worker = std::thread([this] {
        m_workerId = std::this_thread::get_id();
        Execute();
    });
}

void TAVConverter::SetResumeOutput(bool resume)
{
    m_resume->requested = resume;
}

bool TAVConverter::ResumeOutput() const
{
    return m_resume->requested;
}

int64_t TAVConverter::OutputSize() const
{
    return m_outputSize + m_resume->keptBytes;
}

int64_t TAVConverter::ResumedUs() const
{
    return m_resume->resumedUs;
}

int64_t TAVConverter::ResumePrerollUs() const
{
    return m_resume->VideoPrerollUs();
}

bool TAVConverter::Pause()
{
    TState expected = stRunning;
    if (m_state.compare_exchange_strong(expected, stPaused))
        return true;
    if (expected == stPaused)
        return true;
    // still opening: kept for the moment transcoding begins (m_stateLock
    // orders this against BeginTranscode and Resume)
    std::lock_guard lock(m_stateLock);
    if (m_state.load() == stIdle && m_started && !m_finished && !m_stopEarly) {
        m_pauseEarly = true;
        return true;
    }
    return m_state.load() == stPaused;
}

void TAVConverter::Resume()
{
    std::lock_guard lock(m_stateLock);
    m_pauseEarly = false;
    TState expected = stPaused;
    if (m_state.compare_exchange_strong(expected, stRunning))
        m_stateChanged.notify_all();
}

void TAVConverter::Stop()
{
    // a stop asked while the job is still opening its files is kept for
    // the moment it starts, and also ends a blocking open
    if (m_started && !m_finished)
        m_stopEarly = true;
    TState s = m_state.load();
    while ((s == stRunning || s == stPaused) && !m_state.compare_exchange_weak(s, stStopRequested)) {
    }
    std::lock_guard lock(m_stateLock);
    m_stateChanged.notify_all();
}

int TAVConverter::Progress() const
{
    const double duration = m_duration;
    // a resumed job counts from the start of its whole window
    const int64_t resumed = m_resume->resumedUs;
    const double converted = m_convertedDuration + double(resumed) / 1000000.0;
    const int64_t start = resumed > 0 ? int64_t(m_resume->windowStartUs) : m_options->m_startTime;
    const int64_t recording = resumed > 0 ? int64_t(m_resume->windowRecordingUs) : m_options->m_recordingTime;
    if (start <= 0 && !(duration * 1000000.0 > double(recording)))
        return duration > 0 ? int(std::lround(converted / duration * 100.0)) : 0;
    const int64_t span = std::min<int64_t>(recording, std::llround(duration * 1000000.0) - start);
    if (span <= 0)
        return 0; // nothing left to convert in the window: no meaningful percentage
    return int(std::lround(converted * 100.0 * 1000000.0 / double(span)));
}

int64_t TAVConverter::GetElapsedTime() const
{
    return (m_lastTime - m_startTime) / 1000000;
}

int64_t TAVConverter::GetRemainingTime() const
{
    const int64_t progress = Progress();
    if (progress <= 0)
        return 362439;
    return GetElapsedTime() * (100 - progress) / progress;
}

QString TAVConverter::ErrorText() const
{
    std::lock_guard lock(m_textLock);
    return m_errorText;
}

QString TAVConverter::LastLogLine() const
{
    std::lock_guard lock(m_textLock);
    return m_lastLogLine;
}

void TAVConverter::SetErrorText(const QString& text)
{
    std::lock_guard lock(m_textLock);
    m_errorText = text;
}

void TAVConverter::DeliverLogLine(int level, const QString& rawText)
{
    const QString text = WithoutAddress(rawText);
    int repeated = 0, repeatedLevel = 0;
    {
        std::lock_guard lock(m_textLock);
        if (!m_lastLogLine.isEmpty() && text == m_lastLogLine) {
            ++m_repeatedCount;
            m_repeatedLevel = level;
            return;
        }
        repeated = std::exchange(m_repeatedCount, 0);
        repeatedLevel = m_repeatedLevel;
        m_lastLogLine = text;
    }
    if (repeated > 0)
        DoLog(repeatedLevel, QStringLiteral("    Last message repeated %1 times").arg(repeated));
    DoLog(level, text);
}

void TAVConverter::FlushRepeatedLog()
{
    int repeated = 0, level = 0;
    {
        std::lock_guard lock(m_textLock);
        repeated = std::exchange(m_repeatedCount, 0);
        level = m_repeatedLevel;
    }
    if (repeated > 0)
        DoLog(level, QStringLiteral("    Last message repeated %1 times").arg(repeated));
}

QString TAVConverter::WithoutAddress(const QString& line)
{
    static const QRegularExpression address(QStringLiteral("\\[([^\\]\\[]*?) @ 0x[0-9a-fA-F]+\\]"));
    QString text = line;
    return text.replace(address, QStringLiteral("[\\1]"));
}

void TAVConverter::DoLog(int level, const QString& text)
{
    if (OnLog)
        OnLog(this, level, text);
}

void TAVConverter::DoStopped()
{
    // a failing handler must not take the event loop down
    try {
        if (OnStopped)
            OnStopped(this);
    } catch (const std::exception& e) {
        ErrorBox(QString::fromUtf8(e.what()));
    }
}

void TAVConverter::DoError()
{
    ErrorBox(QStringLiteral("%1:%2").arg(ErrorText(), LastLogLine()));
}

void TAVConverter::DoComplete()
{
    if (m_endedOnStop)
        return;
    if (OnComplete) {
        try {
            OnComplete(this);
        } catch (...) {
        }
    }
}

void TAVConverter::DoProgress()
{
    if (!OnProgress)
        return;
    try {
        OnProgress(this);
    } catch (const std::exception& e) {
        ErrorBox(QString::fromUtf8(e.what()));
    }
}

void TAVConverter::Post(const std::function<void()>& fn)
{
    if (!QCoreApplication::instance()) {
        fn();
        return;
    }
    // queued on this object: dropped by Qt if the converter is destroyed first
    QMetaObject::invokeMethod(this, fn, Qt::QueuedConnection);
}

void TAVConverter::CallOnMainThread(const std::function<void()>& fn)
{
    if (!QCoreApplication::instance() || QThread::currentThread() == thread()) {
        fn();
        return;
    }
    struct Call
    {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
    };
    auto call = std::make_shared<Call>();
    QMetaObject::invokeMethod(
        this,
        [this, fn, call] {
            fn();
            std::lock_guard lock(call->lock);
            call->finished = true;
            call->done.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(call->lock);
    while (!call->finished && !m_abandoned)
        call->done.wait_for(lock, std::chrono::milliseconds(50));
}

bool TAVConverter::LoopPass()
{
    // at most one notification pending, and not more often than the eye
    // needs: waking the main thread for every packet costs the conversion time
    const int64_t now = av_gettime_relative();
    if (now - m_lastProgressPostUs >= kProgressIntervalUs && !m_progressPending.exchange(true)) {
        m_lastProgressPostUs = now;
        Post([this] {
            m_progressPending = false;
            DoProgress();
        });
    }
    if (m_state == stPaused) {
        std::unique_lock lock(m_stateLock);
        m_stateChanged.wait(lock, [this] { return m_state != stPaused || m_abandoned; });
    }
    if (m_state == stStopRequested) {
        CallOnMainThread([this] { DoStopped(); });
        return false;
    }
    return true;
}

void TAVConverter::BeginTranscode()
{
    m_startTime = 0;
    m_lastTime = 0;
    TState expected = stIdle;
    m_state.compare_exchange_strong(expected, m_stopEarly ? stStopRequested : stRunning);
    // a stop that came between the check and the change is not lost
    expected = stRunning;
    if (m_stopEarly)
        m_state.compare_exchange_strong(expected, stStopRequested);
    // nor is a pause asked while the files were being opened; a Resume
    // between the check and the change finds stPaused and wakes the loop
    {
        std::lock_guard lock(m_stateLock);
        expected = stRunning;
        if (m_pauseEarly.exchange(false))
            m_state.compare_exchange_strong(expected, stPaused);
    }
    m_startTime = av_gettime();
}

void TAVConverter::Execute()
{
    if (!m_inputFiles.isEmpty()) {
        // the kernel keeps 15 characters of a thread name
        const QByteArray name = (QStringLiteral("Converting ") + m_inputFiles.first()).toUtf8().left(15);
        pthread_setname_np(pthread_self(), name.constData());
        ThreadRegistry::Add(this);
        try {
            Run();
        } catch (...) {
        }
        FlushRepeatedLog();
        ThreadRegistry::Remove();
    } else {
        SetErrorText(QStringLiteral("No input file"));
        Post([this] {
            if (OnFailed)
                OnFailed(this);
        });
    }
    m_finished = true;
    Post([this] {
        if (OnFinished)
            OnFinished(this);
    });
}

void TAVConverter::Run()
{
    try {
        if (m_inputFiles.size() > kMaxFiles || m_outputFiles.size() > kMaxFiles)
            throw EEngineError("Too many input or output files (at most 100 of each)");
        if (m_outputFiles.isEmpty())
            throw EEngineError("No output file");
        m_resume->BeforeOpen(*this);
        ParseStreamMaps();
        if (m_options->AudioOptions()->m_bitrate != 0)
            SetOption(QStringLiteral("ab"), QString::number(m_options->AudioOptions()->m_bitrate));
        if (m_options->VideoOptions()->m_bitrate != 0)
            SetOption(QStringLiteral("b"), QString::number(m_options->VideoOptions()->m_bitrate));
        ApplyCodecOptions();
        ResolveFormats();
        const TRational* rate = m_options->VideoOptions()->FrameRate();
        if (rate->num() > 0 && rate->den() > 0 && !(rate->num() == 25 && rate->den() == 1))
            m_engine->requestedRate = {rate->num(), rate->den()};
        m_engine->requestedPixelFormat = m_options->VideoOptions()->PixelFormat;
        for (int i = 0; i < m_inputFiles.size(); ++i)
            OpenInput(*this, *m_engine, i);
        for (const TimestampScale& s : m_options->TimestampScales)
            if (s.file >= 0 && s.file < int(m_engine->inputs.size()) && s.stream >= 0 &&
                s.stream < kMaxStreamsPerFile)
                m_engine->inputs[s.file].scales[s.stream] = s.scale;
        m_engine->openingOutputs = true;
        for (int i = 0; i < m_outputFiles.size(); ++i)
            OpenOutput(*this, *m_engine, i);
        m_engine->openingOutputs = false;
    } catch (const std::exception& e) {
        // the job never started: close what was opened and tell the owner,
        // so a task does not wait for a job that will never progress
        m_engine->RemoveEmptyOutputs();
        m_engine->CloseFiles();
        m_engine->ReleaseDefaults();
        if (m_stopEarly) {
            // the open was cut short by the stop: the job was stopped, not failed
            CallOnMainThread([this] { DoStopped(); });
            return;
        }
        SetErrorText(QString::fromUtf8(e.what()));
        Post([this] {
            if (OnFailed)
                OnFailed(this);
        });
        return;
    }
    Transcode();
    Cleanup();
}

void TAVConverter::ParseStreamMaps()
{
    const QStringList& maps = m_options->m_streamMaps;
    if (maps.size() > kMaxStreamMaps)
        throw EEngineError("Too many stream maps (at most 2000)");
    m_engine->streamMaps.clear();
    for (const QString& line : maps) {
        const int eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? QString() : line.left(eq).trimmed();
        const QString value = eq < 0 ? QString() : line.mid(eq + 1).trimmed();
        bool okName = false, okValue = false;
        const int file = name.toInt(&okName);
        const int stream = value.toInt(&okValue);
        if (!okName || !okValue)
            throw EEngineError(QStringLiteral("'%1' is not a valid integer value")
                                   .arg(okName ? value : name)
                                   .toStdString());
        m_engine->streamMaps.push_back({file, stream, file, stream});
    }
}

void TAVConverter::ApplyCodecOptions()
{
    for (const QString& line : m_options->m_codecOptions) {
        const int eq = line.indexOf(QLatin1Char('='));
        SetOption(eq < 0 ? line : line.left(eq), eq < 0 ? QString() : line.mid(eq + 1));
    }
}

void TAVConverter::ResolveFormats()
{
    const QString& in = m_options->m_inputFormat;
    const QString& out = m_options->m_outputFormat;
    if (in.isEmpty() && out.isEmpty())
        return;
    // "wavcap" is the capture, which OpenInput attaches itself
    const bool capture = in == QLatin1String("wavcap");
    m_engine->forcedInput = in.isEmpty() || capture ? nullptr : av_find_input_format(in.toUtf8().constData());
    m_engine->forcedOutput =
        out.isEmpty() ? nullptr : av_guess_format(out.toUtf8().constData(), nullptr, nullptr);
    if (!m_engine->forcedInput && !m_engine->forcedOutput && !capture)
        throw EEngineError(
            QStringLiteral("Unknown input %1 or Output format %2").arg(in, out).toStdString());
}

void TAVConverter::Transcode()
{
    Transcoder transcoder(*this, *m_engine);
    transcoder.Run();
}

void TAVConverter::Cleanup()
{
    m_engine->CloseFiles();
    m_endedOnStop = m_state == stStopRequested;
    // before the defaults go: a resumed output is joined with the same muxer options
    const bool clean = ErrorText().isEmpty();
    const QString resumeError = m_resume->AfterRun(*this, *m_engine, !m_endedOnStop && clean, m_endedOnStop && clean);
    if (!resumeError.isEmpty()) {
        SetErrorText(resumeError);
        DoLog(AV_LOG_ERROR, resumeError);
    }
    m_engine->ReleaseDefaults();
    m_state = stIdle;
    CallOnMainThread([this] { DoComplete(); });
}

int64_t TAVConverter::GetInputSize(int index) const
{
    // the inputs belong to the worker: other threads get the last figure it published
    if (std::this_thread::get_id() != m_workerId.load())
        return index == 0 ? int64_t(m_inputSize) : 0;
    if (index < 0 || index >= int(m_engine->inputs.size()) || !m_engine->inputs[index].ctx)
        return 0;
    AVIOContext* pb = m_engine->inputs[index].ctx->pb;
    return pb ? avio_size(pb) : 0;
}

QStringList TAVConverter::OptionNames() const
{
    return m_engine->optionNames;
}

} // namespace korvane
