// watch --category: completed conversions written into the desktop
// program's history database, in a category found (or made) by its name, so
// they are listed there with the conversions made in the window.
#pragma once

#include "PersistentManager.h"

#include <QString>
#include <memory>

namespace korvane {
class TAVProfile;
}

namespace korvane::cli {

struct ConvertRequest;
struct JobReport;

class HistoryRecord
{
public:
    // Opens the history of the settings folder; rootFolder is the folder
    // the root category gets when the database is new.
    HistoryRecord(const QString& category, const QString& rootFolder);
    // Opens the database and finds or makes the category; returns the
    // problem (empty when all went well).
    QString Open();
    // Adds a finished row for a completed job; returns the problem.
    QString Add(const JobReport& report, TAVProfile* profile, const ConvertRequest& request);

private:
    QString m_category;
    QString m_rootFolder;
    int m_categoryId = 0;
    std::unique_ptr<TPersistentManager> m_db;
};

} // namespace korvane::cli
