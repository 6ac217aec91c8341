// The command line of `convert`, parsed and checked before any job starts.
#pragma once

#include "options/ConvertOptions.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace korvane::cli {

struct ConvertRequest
{
    QStringList sources;
    QString output;  // file (one source) or folder; empty: the configured output folder
    QString profile; // a profile's Description as typed
    // --set PATH=VALUE and --option NAME=VALUE in command-line order; applied
    // after the profile so that they win over it.
    QList<QPair<QString, QString>> sets;
    QList<QPair<QString, QString>> codecOptions;
    QString format;
    QString filter;
    int64_t startUs = -1; // -1: not given
    int64_t endUs = -1;
    int title = 0, angle = 1, firstChapter = 1, lastChapter = 0;
    int jobs = 0; // 0: one per processor
    bool overwrite = false;
    // carry on an output left by an unfinished run (--overwrite wins: start over)
    bool resume = false;
    bool quiet = false;
    bool recursive = false;
    bool json = false;
    QString logFile;
};

// Fills request; returns the reason when the command line is refused. Every
// --set is tried on scratch options here, so a bad path or value is a usage
// error rather than a failed job.
QString ParseConvertArgs(const QStringList& args, ConvertRequest* request);

// The command-line settings, written over what the profile left in options.
void ApplyCommandLine(const ConvertRequest& request, TAVConvertOptions* options);

} // namespace korvane::cli
