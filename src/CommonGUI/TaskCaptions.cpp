// The cell texts of a task's row and the formats they share.
#include "AVNodes.h"

#include "ConversionSettings.h"
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
        if (!IsConverted() && s->SourceFileSize() == 0 && c && c->InputSize() != 0)
            s->SetSourceFileSize(c->InputSize());
        return SizeText(s->SourceFileSize());
    case 2:
        return QFileInfo(s->TargetFile()).fileName();
    case 3:
        if (IsConverted()) {
            const QFileInfo target(s->TargetFile());
            return SizeText(target.isFile() ? target.size() : 0);
        }
        return SizeText(c ? c->OutputSize() : 0);
    case 4:
        return GetTargetProfileText();
    case 5:
        return DurationText(IsConverted() ? s->Duration() : (c ? c->Duration() : 0));
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
        // a task that has not run shows what a run at 0 % shows
        return TimeText(c ? c->GetRemainingTime() : 362439);
    case 9:
        return TimeText(EarlierUsedTime() + (c ? c->GetElapsedTime() : 0));
    default:
        return {};
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
