// watch: folders watched for new media files, each converted once with a
// profile into an output folder. The watching itself (stability wait, the
// record of earlier runs, folders that come and go) is TFolderWatch's; this
// file reads the command line and runs the conversions on a BatchRunner.
#include "BatchRunner.h"
#include "Cli.h"
#include "Configuration.h"
#include "ConvertArgs.h"
#include "HistoryRecord.h"
#include "Profiles.h"
#include "profiles/AVProfile.h"
#include "watch/FolderWatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <memory>

namespace korvane::cli {

namespace {

struct WatchRequest
{
    ConvertRequest convert; // sources are the folders, output the output folder
    bool once = false;
    int stableMs = 3000;
    QString category; // history category; empty: none
};

// Takes the options that only watch has, then reads the rest as convert does.
QString ParseWatchArgs(const QStringList& args, WatchRequest* w)
{
    QStringList rest;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--once") {
            w->once = true;
        } else if (a == "--category") {
            if (i + 1 >= args.size() || args[i + 1].trimmed().isEmpty()) return "--category needs a NAME";
            w->category = args[++i];
        } else if (a == "--stable") {
            bool ok = false;
            const double s = i + 1 < args.size() ? args[++i].toDouble(&ok) : 0;
            if (!ok || !std::isfinite(s) || s < 0 || s > 3600)
                return "--stable needs a number of seconds from 0 to 3600";
            w->stableMs = int(s * 1000);
        } else {
            rest << a;
        }
    }
    const QString error = ParseConvertArgs(rest, &w->convert);
    if (!error.isEmpty())
        return QString(error).replace("convert needs at least one source", "watch needs at least one folder");
    if (w->convert.profile.isEmpty()) return "watch needs a profile (-p NAME)";
    if (w->convert.output.isEmpty()) return "watch needs an output folder (-o DIR)";
    for (const QString& folder : w->convert.sources)
        if (folder.startsWith("dvd:") || folder.startsWith("wavcap:"))
            return "watch takes folders, not " + folder;
    if (QFileInfo(w->convert.output).exists() && !QFileInfo(w->convert.output).isDir())
        return "the output " + w->convert.output + " is a file; watch needs a folder";
    return {};
}

} // namespace

int RunWatch(QCoreApplication& app, const QStringList& args)
{
    WatchRequest w;
    const QString error = ParseWatchArgs(args, &w);
    if (!error.isEmpty()) return UsageError(error);
    const ConvertRequest& request = w.convert;
    const ProfileSet profiles(ProfileSet::UserStorePath());
    if (!profiles.Warning().isEmpty()) PrintError("custom profiles not read: " + profiles.Warning());
    TAVProfile* profile = profiles.Find(request.profile);
    if (!profile)
        return UsageError("no profile named '" + request.profile +
                          "' ('korvane-cli profiles' lists them all)");
    const QString ext = profile->GetExtension();
    if (ext.contains('/') || ext.contains(".."))
        return UsageError("the profile's extension '" + ext + "' is not a file name ending");
    if (!QDir().mkpath(request.output)) {
        PrintError("cannot create the output folder " + request.output);
        return kExitFailed;
    }

    TAVConfiguration config;
    config.ApplyPriority = [](int) {}; // as convert: the priority stays the caller's
    config.Load();
    TWatchRecord record;
    const QString recordProblem = record.Load();
    if (!recordProblem.isEmpty()) PrintError(recordProblem);

    BatchRunner runner(app, request, profile, std::max(0, config.PerformanceOptions()->ThreadCount()), {});
    runner.SetKeepRunning(true);
    TFolderWatch watch({request.sources, request.recursive, request.output, ext, w.stableMs}, &record);
    watch.OnLog = [&runner](const QString& line) { runner.Message(line); };
    watch.OnConvert = [&runner](const TWatchItem& item) {
        JobPlan plan{item.Source, item.Source, item.Target, {}};
        plan.replaceTarget = item.ReplaceTarget;
        runner.Add(plan);
    };
    std::unique_ptr<HistoryRecord> history;
    if (!w.category.isEmpty()) {
        history = std::make_unique<HistoryRecord>(w.category, request.output);
        const QString problem = history->Open();
        if (!problem.isEmpty()) PrintError(problem);
    }
    runner.OnJobEnded = [&](const JobReport& r) {
        if (history && r.status == "completed")
            if (const QString problem = history->Add(r, profile, request); !problem.isEmpty())
                runner.Message(problem);
        watch.Finished(r.source, r.status, r.error);
    };
    if (w.once) watch.OnIdle = [&runner] { runner.StopWhenDone(); };
    const QString startProblem = watch.Start();
    if (!startProblem.isEmpty()) return UsageError(startProblem);
    if (!runner.OpenLog()) return kExitFailed;
    if (!request.quiet)
        runner.Message("watching " + request.sources.join(", ") + (w.once ? QString() : " (Ctrl+C stops)"));
    return runner.Run();
}

} // namespace korvane::cli
