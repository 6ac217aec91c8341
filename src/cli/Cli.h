// Shared pieces of korvane-cli: exit statuses, messages, and the commands.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

class QCoreApplication;

namespace korvane::cli {

// 0 all completed, 1 a job failed, 2 the command line was refused,
// 130 interrupted by SIGINT or SIGTERM (the shell's 128 + 2).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

void PrintUsage(FILE* to);
void PrintVersion();
// "korvane-cli: text" and the hint to --help on stderr; returns kExitUsage.
int UsageError(const QString& text);
// "korvane-cli: text" on stderr.
void PrintError(const QString& text);

// Commands; args are the words after the command's name.
int RunCategories(const QStringList& args);
int RunProfiles(const QStringList& args);
int RunProbe(const QStringList& args);
int RunDvdList(const QStringList& args);
int RunConvert(QCoreApplication& app, const QStringList& args);
int RunWatch(QCoreApplication& app, const QStringList& args);

} // namespace korvane::cli
