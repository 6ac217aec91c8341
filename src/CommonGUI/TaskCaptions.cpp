// The cell texts of a task's row and the formats they share.
#include "AVNodes.h"

#include "ConversionSettings.h"
#include "FileInfoCache.h"
#include "transcode/AVConverter.h"
#include "av/AVLib.h"

#include <QFileInfo>
#include <QLocale>
#include <cmath>

namespace korvane {

QString SizeText(int64_t bytes)
{
    return QStringLiteral("%1KB").arg(bytes / 1024);
}

QString DurationText(double seconds)
{
    if (!std::isfinite(seconds))
        seconds = 0;
    // the default rounding mode rounds halves to even
    return TimeText(int64_t(std::nearbyint(seconds)));
}

QString BitrateText(double kbps)
{
    if (!std::isfinite(kbps))
        kbps = 0;
    // "###,###.0#": no digit before the point for values under one, one or
    // two decimals, thousands grouped
    const QLocale locale;
    const bool negative = kbps < 0;
    const qint64 hundredths = qint64(std::llround(std::fabs(kbps) * 100));
    const qint64 whole = hundredths / 100;
    const int cents = int(hundredths % 100);
    QString text = negative && hundredths != 0 ? QStringLiteral("-") : QString();
    if (whole != 0) {
        QString digits = QString::number(whole);
        for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
            digits.insert(i, locale.groupSeparator());
        text += digits;
    }
    text += locale.decimalPoint();
    text += QString::number(cents / 10);
    if (cents % 10 != 0)
        text += QString::number(cents % 10);
    return text;
}

QString DateTimeText(const QDateTime& date)
{
    const QLocale locale;
    // the long time format of the locale without its time zone name
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    timeFormat = timeFormat.trimmed();
    return locale.toString(date.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(date.time(), timeFormat);
}

QString TConvertingTask::GetCaption(int column)
{
    TConversionSettings* s = Fields();
    TAVConverter* c = Converter();
    switch (column) {
    case 0:
        if (s->SourceType() == TConversionSettings::stDvd)
            return QStringLiteral("dvd[%1:title%2]").arg(s->DvdVolume()).arg(s->DvdTitle());
        return QFileInfo(s->SourceFile()).fileName();
    case 1:
        if (!IsConverted() && s->SourceFileSize() == 0) {
            if (c && c->InputSize() != 0) {
                s->SetSourceFileSize(c->InputSize());
            } else if (s->SourceType() == TConversionSettings::stFile) {
                // a task brought back from the history has not run here yet,
                // or its run failed before it read: the file on disk, as far
                // as it is known
                const TFileInfoCache::TInfo source = TFileInfoCache::Instance().Get(s->SourceFile());
                return source.Known ? SizeText(source.IsFile ? source.Size : 0) : QString();
            }
        }
        return SizeText(s->SourceFileSize());
    case 2:
        return QFileInfo(s->TargetFile()).fileName();
    case 3:
        // a converted task, or one brought back after the program ended
        // (stopped or killed: its output may be resumed), shows its file
        if (IsConverted() || !c) {
            // never a look at the disk while painting: the cache looks on a
            // worker and the row is painted again when it knows
            const TFileInfoCache::TInfo target = TFileInfoCache::Instance().Get(s->TargetFile());
            return target.Known ? SizeText(target.IsFile ? target.Size : 0) : QString();
        }
        return SizeText(c ? c->OutputSize() : 0);
    case 4:
        return GetTargetProfileText();
    case 5:
        // a task that has not run in this process shows the stored duration
        return DurationText(IsConverted() || !c ? s->Duration() : c->Duration());
    default:
        break;
    }
    if (IsConverted())
        return column == 6 ? DateTimeText(Date()) : QString();
    switch (column) {
    case 6:
        return QStringLiteral("%1%").arg(c ? c->Progress() : 0);
    case 7:
        return BitrateText(c ? c->Bitrate() : 0);
    case 8:
        // only a run under way has time left; a stopped, failed or restored
        // task shows none
        if (!c || (Status() != stRunning && Status() != stPaused))
            return {};
        return TimeText(c->GetRemainingTime());
    case 9:
        return TimeText(EarlierUsedTime() + (c ? c->GetElapsedTime() : 0));
    default:
        return {};
    }
}

QString TAVTask::StatusText() const
{
    switch (m_status) {
    case stRunning:
        return QStringLiteral("Running");
    case stPaused:
        return QStringLiteral("Paused");
    case stFinished:
        return QStringLiteral("Completed");
    case stError:
        break;
    }
    if (!m_runFailed)
        return QStringLiteral("Stopped");
    const QStringList log = Log();
    return log.isEmpty() ? QStringLiteral("Failed") : QStringLiteral("Failed: %1").arg(log.last());
}

QVariant TAVTask::SortValue(int column)
{
    TConversionSettings* s = Fields();
    switch (column) {
    case 1:
        return s->SourceFileSize();
    case 3: {
        const TFileInfoCache::TInfo target = TFileInfoCache::Instance().Get(s->TargetFile());
        return target.IsFile ? target.Size : qint64(0);
    }
    case 5:
        return s->Duration();
    case 6:
        return IsConverted() ? QVariant(m_date) : QVariant(GetCaption(column));
    default:
        return GetCaption(column).toLower();
    }
}

void TConvertingTask::Start()
{
    TAVTask::Start();
}

void TConvertingTask::Pause()
{
    TAVTask::Pause();
}

void TConvertingTask::Resume()
{
    TAVTask::Resume();
}

void TConvertingTask::Stop()
{
    TAVTask::Stop();
}

} // namespace korvane
