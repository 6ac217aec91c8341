#include "transcode/Resume.h"

#include "options/ConvertOptions.h"
#include "options/Persistent.h"
#include "transcode/AVConverter.h"
#include "transcode/Engine.h"
#include "transcode/ResumeRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstdio>

namespace korvane {

namespace {

// Long enough for several repeats or drops of any usual rate change.
constexpr int64_t kVideoPrerollUs = 2000000;

QString ClockText(int64_t us)
{
    const int64_t ms = us / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// The joined file gets the muxer settings the job's own output got.
struct MuxerSettings
{
    ConverterEngine* engine;
    const TAVConvertOptions* options;
};

void PrepareJoined(AVFormatContext* oc, void* data)
{
    const auto* s = static_cast<MuxerSettings*>(data);
    oc->max_delay = int(std::lround(s->options->MuxerOptions()->m_muxMaxDelay * 1000000.0));
    CopyContextOptions(oc, s->engine->defaultFormat, s->engine->optionNames, AV_OPT_FLAG_ENCODING_PARAM);
}

} // namespace

QString ResumeSession::PartPath(const QString& output)
{
    const QFileInfo info(output);
    return info.absolutePath() + "/." + info.completeBaseName() + ".resume-part." + info.suffix();
}

QString ResumeSession::JoinPath(const QString& output)
{
    const QFileInfo info(output);
    return info.absolutePath() + "/." + info.completeBaseName() + ".resume-join." + info.suffix();
}

bool ResumeSession::Eligible(const TAVConverter& c) const
{
    // one local source into one file: what a record can describe
    if (c.InputFiles().size() != 1 || c.OutputFiles().size() != 1)
        return false;
    const QString out = c.OutputFiles().first();
    return QFileInfo(c.InputFiles().first()).isFile() && !out.contains(QLatin1Char('%')) &&
           !out.contains(QLatin1Char(':')) && out != QLatin1String("-");
}

void ResumeSession::Record(TAVConverter& c)
{
    QString error;
    const QString out = c.OutputFiles().first();
    // the output's folder may not be there yet (the first conversion into a
    // category's folder): the job makes it for the output anyway, and the
    // record goes in first
    const QString folder = QFileInfo(out).absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        c.DoLog(AV_LOG_WARNING, QStringLiteral("No resume record for %1: its folder cannot be made").arg(out));
    else if (WriteResumeRecord(out, ResumeRecord::For(c.InputFiles().first(), *c.ConvertOptions()), &error))
        m_recorded = true;
    else
        c.DoLog(AV_LOG_WARNING, QStringLiteral("No resume record for %1: %2").arg(out, error));
}

void ResumeSession::StartOver(TAVConverter& c, const QString& why)
{
    c.DoLog(AV_LOG_WARNING, QStringLiteral("%1 cannot be resumed (%2): converting from the start")
                                .arg(c.OutputFiles().first(), why));
    Record(c);
}

void ResumeSession::BeforeOpen(TAVConverter& c)
{
    m_videoPrerollUs = 0;
    keptBytes = 0;
    if (!Eligible(c))
        return;
    const QString out = c.OutputFiles().first();
    if (!requested || !QFileInfo::exists(out)) {
        Record(c);
        return;
    }
    TAVConvertOptions& o = *c.ConvertOptions();
    const QString refusal = ResumeRefusal(c.InputFiles().first(), out, o);
    if (!refusal.isEmpty())
        throw EEngineError(refusal.toStdString());
    if (o.VideoOptions()->Pass() != 0) {
        StartOver(c, QStringLiteral("a two-pass conversion's statistics cover the whole file"));
        return;
    }
    m_point = ScanForResume(out);
    if (!m_point.reason.isEmpty()) {
        StartOver(c, m_point.reason);
        return;
    }
    if (o.m_recordingTime != kNoTimeLimit && m_point.resumeUs >= o.m_recordingTime) {
        StartOver(c, QStringLiteral("its kept part already reaches the end of the window"));
        return;
    }
    m_output = out;
    m_part = PartPath(out);
    QFile::remove(m_part);
    c.SetOutputFiles({m_part});
    windowStartUs = o.m_startTime;
    windowRecordingUs = o.m_recordingTime;
    o.m_startTime += m_point.resumeUs;
    if (o.m_recordingTime != kNoTimeLimit)
        o.m_recordingTime -= m_point.resumeUs;
    // an MP3 frame may take its bits from the frames before it; the rest's
    // first frame follows frames of another run, so its encoder keeps none
    bool ownReservoir = false;
    for (const QString& line : o.m_codecOptions)
        ownReservoir = ownReservoir || line.section(QLatin1Char('='), 0, 0).trimmed() == QLatin1String("reservoir");
    if (!ownReservoir) {
        o.m_codecOptions << QStringLiteral("reservoir=0");
        m_addedReservoir = true;
    }
    m_videoPrerollUs = m_point.pictures ? std::min(kVideoPrerollUs, m_point.resumeUs) : 0;
    keptBytes = m_point.keptBytes;
    resumedUs = m_point.resumeUs;
    c.DoLog(AV_LOG_INFO, QStringLiteral("Resuming %1 at %2").arg(out, ClockText(m_point.resumeUs)));
}

int64_t ResumeSession::AudioGridDrop(int audio, int64_t firstSample, const AVCodecContext* enc) const
{
    if (m_output.isEmpty() || audio < 0 || size_t(audio) >= m_point.audioFirstJobUs.size() ||
        enc->frame_size <= 1 || enc->sample_rate <= 0 ||
        (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
        return 0;
    const int64_t rate = enc->sample_rate, frame = enc->frame_size;
    // the kept run's clock began where its first packet lies plus the
    // encoder's priming; within what the container's time bases can tell,
    // that is the job's start, as it is whenever the sound starts with it
    int64_t keptStart = av_rescale(m_point.audioFirstJobUs[size_t(audio)], rate, 1000000) + enc->initial_padding;
    if (std::abs(keptStart) <= av_rescale(m_point.audioTickUs[size_t(audio)], rate, 1000000) + 1)
        keptStart = 0;
    const int64_t restStart = av_rescale(m_point.resumeUs, rate, 1000000) + firstSample;
    return ((keptStart - restStart) % frame + frame) % frame;
}

QString ResumeSession::AfterRun(TAVConverter& c, ConverterEngine& e, bool completed, bool stopped)
{
    if (m_output.isEmpty()) {
        if (completed && m_recorded)
            RemoveResumeRecord(c.OutputFiles().first());
        return {};
    }
    QString error;
    if (completed || stopped) {
        const QString joined = JoinPath(m_output);
        av::Dict options;
        MuxerHeaderOptions(e, *c.ConvertOptions(), e.forcedOutput, &options.p);
        MuxerSettings settings{&e, c.ConvertOptions()};
        error = JoinResumed(m_output, m_part, joined, m_point, e.forcedOutput, options.p, &PrepareJoined, &settings);
        if (error.isEmpty() && std::rename(QFile::encodeName(joined).constData(),
                                           QFile::encodeName(m_output).constData()) != 0)
            error = QStringLiteral("%1 cannot replace %2").arg(joined, m_output);
        if (error.isEmpty()) {
            if (completed)
                RemoveResumeRecord(m_output);
            // the output is whole again: its size is the joined file's
            keptBytes = 0;
            c.SetSizes(c.InputSize(), QFileInfo(m_output).size());
        }
        QFile::remove(joined);
    }
    QFile::remove(m_part);
    // the job's output and window are the ones it carried on, whatever became of them
    c.SetOutputFiles({m_output});
    if (m_addedReservoir)
        c.ConvertOptions()->m_codecOptions.removeAll(QStringLiteral("reservoir=0"));
    c.ConvertOptions()->m_startTime = windowStartUs;
    c.ConvertOptions()->m_recordingTime = windowRecordingUs;
    if (!error.isEmpty() && stopped) {
        // the stop itself went well: the output holds what it held before
        c.DoLog(AV_LOG_WARNING, QStringLiteral("%1 keeps only what it held before this run: %2").arg(m_output, error));
        return {};
    }
    return error.isEmpty() ? error : QStringLiteral("Resuming %1 failed: %2").arg(m_output, error);
}

QString CheckResume(const QString& source, const QString& output, const TAVConvertOptions& options)
{
    if (!QFileInfo::exists(output))
        return {};
    return ResumeRefusal(source, output, options);
}

bool CanResume(const QString& source, const QString& output, const TAVConvertOptions& options)
{
    return QFileInfo::exists(output) && ResumeRefusal(source, output, options).isEmpty();
}

} // namespace korvane
