// The record a run keeps beside its output so that a later run can carry on
// where it stopped: which source (path, size, modification time), a digest of
// the settings that shape the output, and the time window. It is written
// before the output is created and removed when the run completes, so an
// output without a record was never left by an unfinished run.
#pragma once

#include <QString>
#include <cstdint>

namespace korvane {

class TAVConvertOptions;

struct ResumeRecord
{
    QString source;       // absolute path
    qint64 sourceSize = -1;
    qint64 sourceMtimeMs = -1;
    QString settings;     // SettingsDigest of the options
    int64_t startUs = 0;  // the window: StartTime and RecordingTime of the job
    int64_t recordingUs = 0;

    // The record of a job converting source with options; empty source when
    // the source is not a local file (nothing can be checked later).
    static ResumeRecord For(const QString& source, const TAVConvertOptions& options);
};

// Where the record of output lives: a hidden file in the output's folder.
QString ResumeRecordPath(const QString& output);

// A digest of every published option that shapes the output; the window and
// the thread count are left out (the window is kept apart, threads do not
// change what is written).
QString SettingsDigest(const TAVConvertOptions& options);

// Writes the record of output; false (with the reason) when it cannot.
bool WriteResumeRecord(const QString& output, const ResumeRecord& record, QString* error);
// Reads the record of output; false when there is none or it is unreadable.
bool ReadResumeRecord(const QString& output, ResumeRecord* record);
void RemoveResumeRecord(const QString& output);

// Why output cannot be carried on by a job converting source with options
// (the source changed, other settings, another source, no record); empty
// when it can. An output that does not exist has nothing to carry on: the
// caller converts normally.
QString ResumeRefusal(const QString& source, const QString& output, const TAVConvertOptions& options);

} // namespace korvane
