#include "HistoryRecord.h"

#include "Configuration.h"
#include "ConversionSettings.h"
#include "ConvertArgs.h"
#include "Json.h"
#include "PropertyDocument.h"
#include "profiles/AVProfile.h"
#include "watch/WatchFolderList.h"

namespace korvane::cli {

HistoryRecord::HistoryRecord(const QString& category, const QString& rootFolder)
    : m_category(category.trimmed()), m_rootFolder(rootFolder)
{
}

QString HistoryRecord::Open()
{
    try {
        m_db = std::make_unique<TPersistentManager>();
        m_db->Open(TAVConfiguration::GetAppDataFolder(), m_rootFolder);
        m_categoryId = FindHistoryCategory(m_db.get(), m_category);
        if (m_categoryId == 0)
            m_categoryId = m_db->NewCategory(m_category, m_rootFolder, TPersistentManager::kRootCategoryId);
    } catch (const std::exception& e) {
        m_db.reset();
        return "history not written: " + QString::fromUtf8(e.what());
    }
    return {};
}

QString HistoryRecord::Add(const JobReport& report, TAVProfile* profile, const ConvertRequest& request)
{
    if (!m_db) return {};
    // the settings as the job ran them: profile, then the command line
    TConversionSettings settings;
    settings.SetSourceFile(report.source);
    settings.SetTargetFile(report.target);
    settings.SetProfile(profile ? profile->Description() : QString());
    settings.SetCategoryId(m_categoryId);
    settings.SetDuration(report.duration);
    settings.SetSourceFileSize(report.inputSize);
    TAVConvertOptions* o = settings.ConvertOptions();
    o->m_inputFormat.clear();
    try {
        if (profile) profile->Apply(o);
        ApplyCommandLine(request, o);
        const QString document = WritePropertyDocument(&settings);
        const int id = m_db->NewDbTask(document);
        m_db->FinishDbTask(id, document, QDateTime::currentDateTime(), m_categoryId,
                           {QStringLiteral("Converted by korvane-cli watch")});
    } catch (const std::exception& e) {
        return "history not written for " + report.source + ": " + QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace korvane::cli
