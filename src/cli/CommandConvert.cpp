// convert: the command line checked, the profile found, the configuration
// read, the jobs planned and run.
#include "BatchRunner.h"
#include "Cli.h"
#include "Configuration.h"
#include "ConvertArgs.h"
#include "JobPlan.h"
#include "Profiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

namespace korvane::cli {

namespace {

int UnknownProfile(const ProfileSet& profiles, const QString& name)
{
    QString text = "no profile named '" + name + "'";
    const QStringList close = profiles.CloseMatches(name);
    if (!close.isEmpty())
        text += "; did you mean: '" + close.join("', '") + "'?";
    text += " ('korvane-cli profiles' lists them all)";
    return UsageError(text);
}

// Threads per job: the configured count, or 0 when that is 0, which lets
// the media libraries size each codec's threads to the processors (a
// frame-threaded decoder then runs one thread more than there are
// processors, which keeps every core busy while the job waits on the encoder).
int ConfiguredThreads(const TAVConfiguration& config)
{
    return std::max(0, config.PerformanceOptions()->ThreadCount());
}

} // namespace

int RunConvert(QCoreApplication& app, const QStringList& args)
{
    ConvertRequest request;
    const QString error = ParseConvertArgs(args, &request);
    if (!error.isEmpty())
        return UsageError(error);

    const ProfileSet profiles(ProfileSet::UserStorePath());
    TAVProfile* profile = nullptr;
    if (!request.profile.isEmpty()) {
        if (!profiles.Warning().isEmpty())
            PrintError("custom profiles not read: " + profiles.Warning());
        profile = profiles.Find(request.profile);
        if (!profile)
            return UnknownProfile(profiles, request.profile);
    }

    // Load never throws: a damaged file is set aside and reported by InfoBox
    TAVConfiguration config;
    // the configured priority belongs to the desktop program: the command
    // line keeps the priority it was started with (nice korvane-cli ...),
    // also when a first start writes the configuration
    config.ApplyPriority = [](int) {};
    config.Load();
    const QString outputFolder = config.OutputFolder().isEmpty() ? TAVConfiguration::DefaultOutputFolder()
                                                                 : config.OutputFolder();
    PlanResult plan = PlanJobs(request, profile, outputFolder);
    if (!plan.usageError.isEmpty())
        return UsageError(plan.usageError);
    if (!request.quiet)
        for (const QString& note : plan.notes)
            std::fprintf(stderr, "%s\n", qPrintable(note));
    if (plan.jobs.isEmpty()) {
        PrintError("nothing to convert");
        return kExitFailed;
    }
    BatchRunner runner(app, request, profile, ConfiguredThreads(config), plan.jobs);
    if (!runner.OpenLog())
        return kExitFailed;
    return runner.Run();
}

} // namespace korvane::cli
