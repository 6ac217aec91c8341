// Resuming a task: a new run that carries on the output a stopped, failed
// or killed run left, instead of starting over. The engine checks the
// output's record again and refuses what it cannot carry on.
#include "AVNodes.h"

#include "ConversionSettings.h"
#include "transcode/AVConverter.h"
#include "transcode/Resume.h"
#include "transcode/ResumeRecord.h"

#include <QFileInfo>

namespace korvane {

bool TAVTask::CanResumeTask() const
{
    // a run still winding down after Stop is waited for by the next Start
    if (m_status != stError || m_isConverted)
        return false;
    // only a file source has an identity that a record can hold
    const TConversionSettings* s = Settings();
    if (s->SourceType() != TConversionSettings::stFile)
        return false;
    return CanResume(s->SourceFile(), s->TargetFile(), *s->ConvertOptions());
}

QString TAVTask::ResumeTaskRefusal() const
{
    if (m_status != stError || m_isConverted)
        return {};
    const TConversionSettings* s = Settings();
    if (s->SourceType() != TConversionSettings::stFile)
        return QStringLiteral("only a conversion of a file can be resumed");
    if (!QFileInfo::exists(s->TargetFile()))
        return QStringLiteral("%1 was not written yet; Start converts it").arg(s->TargetFile());
    return ResumeRefusal(s->SourceFile(), s->TargetFile(), *s->ConvertOptions());
}

void TAVTask::ResumeTask()
{
    if (!CanResumeTask())
        return;
    // Used Time goes on from what the runs so far used
    if (m_converter)
        m_earlierUsedS += m_converter->GetElapsedTime();
    m_resumeNext = true;
    Start();
}

} // namespace korvane
