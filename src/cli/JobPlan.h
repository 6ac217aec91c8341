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
    // The target is this job's own earlier output (a watch folder's run cut
    // short): it is replaced without --overwrite.
    bool replaceTarget = false;
};

// A file by device and inode, so two spellings or a link of one file compare equal.
struct FileIdentity
{
    bool valid = false;
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity& o) const { return valid && o.valid && device == o.device && inode == o.inode; }
};
FileIdentity IdentityOf(const QString& path);

struct PlanResult
{
    QList<JobPlan> jobs;
    QString usageError; // the command line cannot work at all
    QStringList notes;  // folders without media and the like
};

// outputFolder is used when the request has no -o.
PlanResult PlanJobs(const ConvertRequest& request, const TAVProfile* profile, const QString& outputFolder);

} // namespace korvane::cli
