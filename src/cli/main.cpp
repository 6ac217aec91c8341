// korvane-cli: the command-line front end over the conversion engine.
// main only installs the message printer and hands over to a command.
#include "Cli.h"
#include "Signals.h"
#include "options/Messages.h"

#include <QCoreApplication>

using namespace korvane;
using namespace korvane::cli;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    MessageService::Install([](MessageKind kind, const QString& caption, const QString& text) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        return kind != MessageKind::Confirm;
    });
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == "--version")
        return PrintVersion(), kExitOk;
    if (command == "--help" || command == "-h" || command == "help")
        return PrintUsage(stdout), kExitOk;
    if (command == "convert") {
        ExitOnInterrupt(kExitInterrupted);
        return RunConvert(app, args);
    }
    if (command == "watch") {
        ExitOnInterrupt(kExitInterrupted);
        return RunWatch(app, args);
    }
    if (command == "categories")
        return RunCategories(args);
    if (command == "profiles")
        return RunProfiles(args);
    if (command == "probe")
        return RunProbe(args);
    if (command == "dvd")
        return RunDvdList(args);
    return UsageError("unknown command " + command);
}
