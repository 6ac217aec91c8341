// The --json report: one object per job, on one line, when the job ends.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace korvane::cli {

struct JobReport
{
    QString source;
    QString target;
    QString profile;      // empty: none
    QString status;       // "completed", "failed" or "stopped"
    QString error;        // empty when none
    double duration = 0;  // of the source, seconds
    double converted = 0; // seconds of the source converted
    double elapsed = 0;   // wall clock, seconds
    int64_t inputSize = 0;
    int64_t outputSize = 0;
};

// Compact JSON ending with a newline; empty texts become null.
QByteArray JobReportJson(const JobReport& report);

} // namespace korvane::cli
