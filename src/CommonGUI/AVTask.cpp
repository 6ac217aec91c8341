// The lifecycle of a task: start (a fresh converter per run), pause, resume,
// stop, the log shared with the worker, completion into the history, failure.
#include "AVNodes.h"

#include "Configuration.h"
#include "ConversionSettings.h"
#include "ExplorerModel.h"
#include "FileInfoCache.h"
#include "PersistentManager.h"
#include "PropertyDocument.h"
#include "SettingsSummary.h"
#include "TaskListModel.h"
#include "sources/StreamProtocol.h"
#include "sources/dvd/DvdSource.h"
#include "transcode/AVConverter.h"
#include "transcode/ResumeRecord.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaMethod>

Q_LOGGING_CATEGORY(lcTask, "korvane.task")

namespace korvane {

namespace {

// Blanks and control characters off both ends of a log line.
QString TrimLogLine(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && (text[begin].isSpace() || text[begin].category() == QChar::Other_Control))
        ++begin;
    while (end > begin && (text[end - 1].isSpace() || text[end - 1].category() == QChar::Other_Control))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

TAVTask::TAVTask(std::unique_ptr<TConversionSettings> settings, TTaskEnvironment* env)
    : TNodeObject(env), m_settings(std::move(settings))
{
    if (!m_settings)
        m_settings = std::make_unique<TConversionSettings>();
    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, this, &TAVTask::DoInvalidateRow);
}

TAVTask::~TAVTask()
{
    // the worker calls back into this task until it has ended
    if (m_converter) {
        m_converter->StopAndWait();
        // a run that ended after its last store (the program closing right
        // after a Stop, before the end was handled) keeps its Used Time
        if (m_storedUsedS >= 0 && UsedSeconds() != m_storedUsedS)
            StoreUsedTime();
    }
    m_converter.reset();
}

void TAVTask::SetStatus(TAVTaskStatus status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit StatusChanged(this);
}

TConversionSettings* TAVTask::Settings() const
{
    if (!m_pendingDocument.isEmpty()) {
        const QString document = std::exchange(m_pendingDocument, QString());
        try {
            ReadPropertyDocument(document, m_settings.get());
        } catch (const EEngineError& e) {
            m_settingsError =
                QStringLiteral("The stored settings of this task cannot be read: %1").arg(QString::fromUtf8(e.what()));
            const_cast<TAVTask*>(this)->AppendLog(m_settingsError);
        }
    }
    return m_settings.get();
}

void TAVTask::SetStoredSettings(const QString& document)
{
    m_pendingDocument.clear();
    if (ReadSettingsSummary(document, m_settings.get())) {
        m_pendingDocument = document;
        return;
    }
    try {
        ReadPropertyDocument(document, m_settings.get());
    } catch (const EEngineError& e) {
        m_settingsError =
            QStringLiteral("The stored settings of this task cannot be read: %1").arg(QString::fromUtf8(e.what()));
        throw;
    }
}

void TAVTask::SetStoredLog(const QString& text)
{
    std::lock_guard lock(m_logLock);
    m_log.clear();
    m_storedLog = text;
}

void TAVTask::TakeStoredLog() const
{
    if (m_storedLog.isEmpty())
        return;
    auto* self = const_cast<TAVTask*>(this);
    const QStringList lines = TConversionRow::SplitLog(std::exchange(self->m_storedLog, QString()));
    self->m_log = lines.mid(std::max<qsizetype>(0, lines.size() - kMaxLogLines));
}

QStringList TAVTask::Log() const
{
    std::lock_guard lock(m_logLock);
    TakeStoredLog();
    return m_log;
}

void TAVTask::SetLog(const QStringList& lines)
{
    {
        std::lock_guard lock(m_logLock);
        m_storedLog.clear();
        m_log = lines.mid(std::max<qsizetype>(0, lines.size() - kMaxLogLines));
    }
    PostLogChanged();
}

void TAVTask::AppendLog(const QString& line)
{
    {
        std::lock_guard lock(m_logLock);
        TakeStoredLog();
        while (m_log.size() > kMaxLogLines - 1)
            m_log.removeFirst();
        m_log.append(TrimLogLine(line));
    }
    PostLogChanged();
}

void TAVTask::PostLogChanged()
{
    // one notification pending at most: a chatty worker does not flood the
    // main thread, and the views copy the whole log anyway
    // and nothing at all while nobody listens (a history of thousands)
    if (!isSignalConnected(QMetaMethod::fromSignal(&TAVTask::LogChanged)))
        return;
    if (m_logChangePending.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_logChangePending = false;
            emit LogChanged(this);
        },
        Qt::QueuedConnection);
}

void TAVTask::NewConverter()
{
    // the used converter ends its job (if any) and is freed first, so two
    // runs of one task never write the same target at once
    m_converter.reset();
    m_converter = std::make_unique<TAVConverter>();
    m_converter->OnProgress = [this](TAVConverter* c) { HandleProgress(c); };
    m_converter->OnComplete = [this](TAVConverter* c) { HandleComplete(c); };
    m_converter->OnLog = [this](TAVConverter* c, int level, const QString& text) { HandleLog(c, level, text); };
    m_converter->OnFailed = [this](TAVConverter* c) { HandleFailed(c); };
    m_converter->OnFinished = [this](TAVConverter* c) { HandleFinished(c); };
}

bool TAVTask::ResolveSource(QString* input)
{
    *input = m_settings->SourceFile();
    if (m_settings->SourceType() != TConversionSettings::stDvd)
        return true;
    // the dialog's stream serves the first run of a task made in this process
    if (std::exchange(m_dvdStreamFresh, false)) {
        const std::optional<TStreamHandle> handle = ParseStreamSource(*input);
        if (handle && IsStreamRegistered(*handle))
            return true;
    }
    // a stream of an earlier run, or of an earlier process, is gone: open
    // the title again from the disc
    try {
        const dvd::TDvdSource source =
            dvd::OpenDvdSource(m_settings->DvdDriver(), m_settings->DvdTitle(), std::max(1, m_settings->DvdChapter()),
                               std::max(0, m_settings->DvdThrough()), std::max(1, m_settings->DvdAngle()));
        *input = source.Name;
        return true;
    } catch (const EEngineError& e) {
        AppendLog(QString::fromUtf8(e.what()));
        return false;
    }
}

void TAVTask::Start()
{
    Settings(); // the options tree of a stored task is read now
    // the run before (a stop just asked) ends first: its last lines must
    // not reach the new run's log, and two runs never write one target
    m_converter.reset();
    SetStatus(stRunning);
    m_runFailed = false;
    m_runFactsStored = false;
    // ResetLog
    SetLog({});
    QString input;
    // settings that could not be read are never run with what was left
    if (!m_settingsError.isEmpty())
        AppendLog(m_settingsError);
    if (!m_settingsError.isEmpty() || !ResolveSource(&input)) {
        SetStatus(stError);
        StoreLog();
        InvalidateRow();
        return;
    }
    NewConverter();
    m_converter->SetInputFiles({input});
    m_converter->SetOutputFiles({m_settings->TargetFile()});
    m_converter->SetConvertOptions(m_settings->ConvertOptions());
    m_converter->SetResumeOutput(m_resumeNext);
    if (!std::exchange(m_resumeNext, false))
        m_earlierUsedS = 0;
    m_storedUsedS = -1;
    InvalidateRow();
    m_converter->Start();
}

void TAVTask::Pause()
{
    // a run still opening its files pauses as soon as it begins; a run that
    // has ended or is stopping has nothing to pause and keeps its status
    if (m_converter && m_converter->Pause())
        SetStatus(stPaused);
    InvalidateRow();
}

void TAVTask::Resume()
{
    SetStatus(stRunning);
    if (m_converter)
        m_converter->Resume();
    InvalidateRow();
}

void TAVTask::Stop()
{
    SetStatus(stError);
    if (m_converter)
        m_converter->Stop();
    InvalidateRow();
}

void TAVTask::HandleProgress(TAVConverter*)
{
    if (!m_runFactsStored)
        StoreRunFacts();
    // now and then, so a program that is killed loses little of it
    if (m_converter && (m_storedUsedS < 0 || UsedSeconds() >= m_storedUsedS + 10))
        StoreUsedTime();
    InvalidateRow();
}

int64_t TAVTask::UsedSeconds() const
{
    return m_earlierUsedS + (m_converter ? m_converter->GetElapsedTime() : 0);
}

void TAVTask::StoreUsedTime()
{
    if (m_id == 0 || !m_env || !m_env->Db || !m_env->Db->IsOpen())
        return;
    const int64_t used = UsedSeconds();
    try {
        m_env->Db->SaveUsedTime(m_id, used);
        m_storedUsedS = used;
    } catch (const std::exception& e) {
        qCWarning(lcTask, "%s", e.what());
    }
}

void TAVTask::StoreRunFacts()
{
    // the source's duration and size, once the run has opened it: a task
    // brought back after a stop, a crash or a kill shows them
    if (!m_converter || m_converter->Duration() <= 0)
        return;
    m_runFactsStored = true;
    m_settings->SetDuration(m_converter->Duration());
    if (m_converter->InputSize() > 0)
        m_settings->SetSourceFileSize(m_converter->InputSize());
    if (m_id == 0 || !m_env || !m_env->Db || !m_env->Db->IsOpen())
        return;
    try {
        m_env->Db->SaveSettings(m_id, WritePropertyDocument(m_settings.get()));
    } catch (const std::exception& e) {
        qCWarning(lcTask, "%s", e.what());
    }
}

void TAVTask::HandleLog(TAVConverter*, int, const QString& text)
{
    AppendLog(text);
}

void TAVTask::InvalidateRow()
{
    if (!m_category || !m_category->TreeView() || !m_category->TreeView()->IsShown(m_category))
        return;
    if (m_lastRepaint.isValid() && m_lastRepaint.elapsed() < kMinRepaintIntervalMs) {
        if (!m_repaintTimer.isActive())
            m_repaintTimer.start(int(kMinRepaintIntervalMs - m_lastRepaint.elapsed()));
        return;
    }
    DoInvalidateRow();
}

void TAVTask::DoInvalidateRow()
{
    m_repaintTimer.stop();
    m_lastRepaint.start();
    if (TTaskListModel* list = m_category && m_category->TreeView() ? m_category->TreeView()->TaskList() : nullptr)
        list->InvalidateRow(this);
}

void TAVTask::StoreLog()
{
    if (m_id == 0 || !m_env || !m_env->Db || !m_env->Db->IsOpen())
        return;
    try {
        m_env->Db->SaveLog(m_id, Log());
    } catch (const EEngineError& e) {
        qCWarning(lcTask, "%s", e.what());
    }
}

void TAVTask::EndRunFailed(const QString& error)
{
    // a failed run is not a finished one: it stays under Converting, its row
    // stays marked converting, no alert, and it never counts as completed
    m_runFailed = true;
    if (!error.isEmpty()) {
        const QStringList log = Log();
        if (log.isEmpty() || log.last() != TrimLogLine(error))
            AppendLog(error);
    }
    SetStatus(stError);
    InvalidateRow();
    StoreLog();
    ShutdownWhenLastEnds(m_category);
}

void TAVTask::ShutdownWhenLastEnds(TNodeObject* converting)
{
    // the machine goes off once no task runs any more, whether the last one
    // completed or failed; a paused task does not keep it on
    if (!converting || !m_env || !m_env->Config || !m_env->Config->ShutdownWhenDone() || !m_env->Shutdown)
        return;
    for (TAVTask* t : converting->Tasks())
        if (t != this && t->Status() == stRunning)
            return;
    m_env->Shutdown->ShutdownComputer();
}

void TAVTask::HandleFailed(TAVConverter* sender)
{
    QString error = sender->ErrorText();
    if (error.isEmpty())
        error = QStringLiteral("The conversion failed");
    EndRunFailed(error);
}

void TAVTask::HandleFinished(TAVConverter*)
{
    // Used Time of every run, also one that stopped or failed, for a resume
    // after the next start of the program
    StoreUsedTime();
    // a stopped run keeps its log for the next start of the program
    if (m_status == stError && !m_runFailed)
        StoreLog();
    // the last figures (a stopped resume's output is joined only now)
    InvalidateRow();
}

void TAVTask::HandleComplete(TAVConverter* sender)
{
    // the engine also completes a run that hit an error inside the
    // transcode; its output is not the conversion the user asked for
    if (!sender->ErrorText().isEmpty()) {
        EndRunFailed(sender->ErrorText());
        return;
    }
    SetStatus(stFinished);
    InvalidateRow();
    MoveToHistory();
}

void TAVTask::MoveToHistory()
{
    TNodeObject* converting = m_category;
    TExplorerModel* explorer = converting ? converting->TreeView() : nullptr;

    Settings()->SetDuration(m_converter->Duration());
    m_date = QDateTime::currentDateTime();
    if (m_env && m_env->Db && m_env->Db->IsOpen()) {
        try {
            m_categoryId = m_env->Db->FinishDbTask(m_id, WritePropertyDocument(m_settings.get()), m_date,
                                                   m_categoryId, Log());
        } catch (const std::exception& e) {
            // not in the history is not done: the task stays under Converting
            // as failed, its row still marked converting, so nothing is lost
            // and no alert claims otherwise
            qCWarning(lcTask, "%s", e.what());
            EndRunFailed(QStringLiteral("The conversion could not be written to the history database %1: %2")
                             .arg(m_env->Db->FileName(), QString::fromUtf8(e.what())));
            return;
        }
    }
    // the finished file's size is looked at again for its history row
    TFileInfoCache::Instance().Forget(m_settings->TargetFile());
    if (converting)
        converting->TakeTask(this);

    const bool alert = m_env && m_env->Config && m_env->Config->ShowAlert() && m_env->Alert;
    if (alert)
        m_env->Alert->ShowTaskCompleted(QStringLiteral("Task Completed"),
                                        QStringLiteral("%1 was generated.").arg(m_settings->TargetFile()),
                                        m_settings->TargetFile());
    emit Completed(this);

    TNodeObject* shown = explorer ? explorer->ShownNode() : nullptr;
    TTaskListModel* list = explorer ? explorer->TaskList() : nullptr;
    auto* category = qobject_cast<TConvertedNode*>(shown);
    if (shown && shown == converting) {
        if (list)
            list->RemoveRow(this);
        // this runs inside the converter's event: the task (and with it the
        // converter) goes once the event has returned
        deleteLater();
    } else if (category && category->CategoryId() == m_categoryId) {
        m_isConverted = true;
        m_category = category;
        category->AddTask(this);
        if (list)
            list->AddRow(this);
    } else {
        m_category = nullptr;
        deleteLater();
    }

    ShutdownWhenLastEnds(converting);
}

bool TAVTask::TargetUsedByAnotherTask() const
{
    const QString target = m_settings->TargetFile();
    if (target.isEmpty())
        return false;
    const TNodeObject* node = m_category;
    const TExplorerModel* explorer = node ? node->TreeView() : nullptr;
    if (const TNodeObject* converting = explorer ? explorer->ConvertingNode() : nullptr)
        for (const TAVTask* t : converting->Tasks())
            if (t != this && t->Fields()->TargetFile() == target)
                return true;
    if (!m_env || !m_env->Db || !m_env->Db->IsOpen())
        return false;
    // the longest run of the path that the document stores unescaped
    // filters the rows; each one found is confirmed on its settings
    QString needle, run;
    for (const QChar c : target + QLatin1Char('&')) {
        if (c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\'') {
            if (run.size() > needle.size())
                needle = run;
            run.clear();
        } else {
            run += c;
        }
    }
    for (const TConversionRow& row : m_env->Db->RowsContaining(needle, m_id)) {
        TConversionSettings other;
        if (!ReadSettingsSummary(row.ConvertSettings, &other)) {
            try {
                ReadPropertyDocument(row.ConvertSettings, &other);
            } catch (const EEngineError&) {
                return true; // unreadable: the file may be its target, so it stays
            }
        }
        if (other.TargetFile() == target)
            return true;
    }
    return false;
}

void TAVTask::Delete(bool deleteSource, bool deleteTarget)
{
    // the row goes first: when the database refuses, nothing else has changed
    if (m_id != 0 && m_env && m_env->Db && m_env->Db->IsOpen())
        m_env->Db->DeleteTask(m_id);
    // a DVD source is a stream name, never a file of ours
    if (deleteSource && m_settings->SourceType() == TConversionSettings::stFile && QFileInfo::exists(m_settings->SourceFile()))
        QFile::remove(m_settings->SourceFile());
    if (deleteTarget) {
        if (QFileInfo::exists(m_settings->TargetFile()))
            QFile::remove(m_settings->TargetFile());
        // the record that would carry the deleted output on goes with it
        RemoveResumeRecord(m_settings->TargetFile());
    }
    TFileInfoCache::Instance().Forget(m_settings->TargetFile());
    TNodeObject* node = m_category;
    if (node)
        node->TakeTask(this);
    TExplorerModel* explorer = node ? node->TreeView() : nullptr;
    if (explorer && explorer->TaskList())
        explorer->TaskList()->RemoveRow(this);
    // a task out of its node's list belongs to nobody: it goes now (later,
    // when this runs inside one of its own events)
    deleteLater();
}

void TAVTask::ClearLog()
{
    // the stored log first: a refusal leaves the log as it was
    if (m_id != 0 && m_env && m_env->Db && m_env->Db->IsOpen())
        m_env->Db->ClearLog(m_id);
    SetLog({});
}

bool TAVTask::CanOpenSource() const
{
    return QFileInfo(m_settings->SourceFile()).isFile();
}

bool TAVTask::ConvertedIsValid() const
{
    return m_isConverted && QFileInfo(m_settings->TargetFile()).isFile();
}

QString TAVTask::GetTargetProfileText() const
{
    return m_settings->Profile();
}

int TAVTask::GetImageIndex() const
{
    if (m_status < stRunning || m_status > stFinished)
        throw EEngineError("Assertion failure (AVNodes): task status out of range");
    if (m_status == stError && m_runFailed)
        return kFailedImage;
    return int(m_status);
}

void TAVTask::LoadTaskInfo(TLogListModel* logList)
{
    if (!logList)
        throw EEngineError("Assertion failure (AVNodes): LoadTaskInfo without a log list");
    TNodeObject::LoadTaskInfo(logList);
    logList->SetTask(this);
}

} // namespace korvane
