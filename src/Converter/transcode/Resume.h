// Carrying on a job whose output was left by a stopped, failed or killed run.
//
// Every job over one local source into one file keeps a record beside the
// output (ResumeRecord) from before the output is created until the job
// completes. A job asked to resume checks that record against its source
// and settings, reads what the output holds (ResumeScan), converts only the
// rest of the window into a hidden file beside the output, and joins the two
// by stream copy into a second hidden file that then replaces the output in
// one rename. Until that rename the output is not touched; a resume that
// stops or fails leaves it as it was, resumable again.
#pragma once

#include "transcode/ResumeScan.h"

#include <QString>
#include <atomic>

namespace korvane {

class TAVConverter;
class TAVConvertOptions;
struct ConverterEngine;

class ResumeSession
{
public:
    // Carry on the output instead of starting over (set before Start).
    std::atomic<bool> requested{false};
    // The part of the window the output already held when this job began
    // (microseconds); 0 when it started from the beginning.
    std::atomic<int64_t> resumedUs{0};
    // About how many bytes of the output the job keeps, while it converts
    // the rest into its part file; 0 otherwise.
    std::atomic<int64_t> keptBytes{0};
    // The job's whole window while it is resumed (its options then hold
    // only the rest); set before resumedUs.
    std::atomic<int64_t> windowStartUs{0};
    std::atomic<int64_t> windowRecordingUs{0};

    // On the worker before the inputs open: the record of a fresh job, or
    // the plan of a resumed one (which then writes into a hidden part file
    // and starts later in the source). Raises EEngineError when the output
    // may not be carried on; the output is untouched then.
    void BeforeOpen(TAVConverter& c);
    // On the worker once the files are closed: completed runs lose their
    // record; a completed resume joins its part to the output. A stopped
    // resume joins what its part holds too and keeps the record, so that
    // the next resume carries on from the later stop. Returns the reason a
    // completed resume's join failed (the output is then as it was), else
    // empty.
    QString AfterRun(TAVConverter& c, ConverterEngine& e, bool completed, bool stopped);

    // On the worker, when the audio clock of the output's sound stream
    // number audio (0: its first sound stream) starts at firstSample (the
    // job's own samples): how many samples the rest leaves
    // out first so that its encoder's frames cover the same stretches of
    // the source as the kept part's did. Frames on another grid would have
    // the join put the rest's sound up to half a frame off its time, and
    // the first of them overlap a kept frame made of other sound. 0 when
    // the job is not resumed or the stream has no fixed frame size.
    int64_t AudioGridDrop(int audio, int64_t firstSample, const AVCodecContext* enc) const;

    // On the worker: how long before the rest's start its pictures are read
    // without being encoded. A frame rate that differs from the source's
    // repeats or drops pictures by a rule that carries its state from one
    // picture to the next; started afresh at the cut, it could repeat there
    // a picture the kept part already ends with. Read from a little
    // earlier, it falls in step with the run that made the kept part at its
    // first repeat or drop.
    // At most this long (2 s); see OpenInput for where the read starts.
    int64_t VideoPrerollUs() const { return m_videoPrerollUs; }
    // Pictures over this long before the start are enough to fall in step
    // with the usual rate changes (25 to 29.97 fps repeats a picture every
    // 0.2 s); with fewer, the read starts up to VideoPrerollUs earlier.
    static constexpr int64_t kEnoughPaceUs = 1000000;

    // The hidden files beside output that a resume writes.
    static QString PartPath(const QString& output);
    static QString JoinPath(const QString& output);

private:
    bool Eligible(const TAVConverter& c) const;
    void Record(TAVConverter& c);
    void StartOver(TAVConverter& c, const QString& why);

    bool m_recorded = false; // this job wrote the output's record
    QString m_output;        // the output being carried on (empty: a fresh job)
    QString m_part;
    ResumePoint m_point;
    bool m_addedReservoir = false; // "reservoir=0" added to the codec options
    int64_t m_videoPrerollUs = 0;
};

// What a front end may do with output before a resume: empty when it may
// carry it on or when there is no output yet (a normal conversion), else
// why it refuses.
QString CheckResume(const QString& source, const QString& output, const TAVConvertOptions& options);
// True when output exists and was left unfinished by a job converting
// source with options, so that a resume would carry it on.
bool CanResume(const QString& source, const QString& output, const TAVConvertOptions& options);

} // namespace korvane
