// From the command line to a list of jobs: sources expanded (folders walked,
// DVD titles opened) and every job given its output file.
#pragma once

#include "ConvertArgs.h"

#include <QList>
#include <QString>

namespace korvane {
class TAVProfile;
}

namespace korvane::cli {

struct JobPlan
{
    QString source; // as the user named it (a file, or dvd:PATH)
    QString input;  // the engine's input name
    QString target;
    // Set when the job cannot run (missing source, clashing output); the
    // job then fails with this text while the others go on.
    QString problem;
};

struct PlanResult
{
    QList<JobPlan> jobs;
    QString usageError; // the command line cannot work at all
    QStringList notes;  // folders without media and the like
};

// outputFolder is used when the request has no -o.
PlanResult PlanJobs(const ConvertRequest& request, const TAVProfile* profile, const QString& outputFolder);

} // namespace korvane::cli
