// Binding to the media libraries: once-per-process registration, the log
// bridge that routes every library log line to the job that caused it, and
// small helpers shared by the engine.
//
// Log routing: the library logs from the calling thread and from its own
// worker threads (frame-threaded decoders, encoder threads, filter slices).
// A line is routed by the context that logged it (codec and format contexts
// and filter graphs carry the job's id in their opaque field), then by the
// thread registry of running workers; lines that belong to no job are dropped.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct AVCodecContext;
struct AVFormatContext;
struct AVFilterGraph;

namespace korvane {

// What the log bridge delivers lines to: a job's converter. The bridge knows
// nothing else of it, so this floor stays below the transcoder.
class LogTarget
{
public:
    // lines above this level are not formatted
    virtual int LogLevelNow() const = 0;
    // the id its contexts carry (RegisterLogJob)
    virtual int LogJobId() const = 0;
    // a whole line, without its line end; called on the thread that logged
    virtual void DeliverLogLine(int level, const QString& text) = 0;

protected:
    ~LogTarget() = default;
};

// Registers devices and installs the log bridge; safe to call many times.
void LoadMediaLibraries();
// Nothing is unloaded with libraries linked normally; clears the flag so a
// later LoadMediaLibraries registers again (used by tests).
void UnloadMediaLibraries();

// The function given to av_log_set_callback.
void LogCallback(void* avcl, int level, const char* fmt, va_list vl);

// Jobs known to the log bridge. Each converter registers itself for its
// lifetime and receives a small id; contexts it creates carry that id.
int RegisterLogJob(LogTarget* target);
void UnregisterLogJob(int jobId);
void TagContext(AVCodecContext* ctx, int jobId);
void TagContext(AVFormatContext* ctx, int jobId);
void TagContext(AVFilterGraph* graph, int jobId);

// The name to hand the media libraries for a file name: a local name whose
// first part looks like "word:" (and the word is no protocol, as in
// "take:1.mp4") gets "file:" in front, so it is not taken for a protocol.
QByteArray LibraryUrl(const QString& name);

// Small utilities.
int Clip(int value, int lower, int upper);
void SleepMicroseconds(int64_t us);
// Whole seconds as "%d:%d:%d" (hours, minutes, seconds, no zero padding).
QString TimeText(int64_t seconds);
// Swaps the first and third byte of a 24-bit colour (RGB <-> BGR).
uint32_t SwapRgb(uint32_t colour);
// The sample-format pair value: first + 5 * second.
int SampleFormatPair(int first, int second);

// Chooses between a decoder's dts and reordered pts, counting faults of each
// (a value not above the previous one).
struct PtsCorrection
{
    int64_t faultyPts = 0;
    int64_t faultyDts = 0;
    int64_t lastPts = INT64_MIN;
    int64_t lastDts = INT64_MIN;
};
int64_t GuessCorrectPts(PtsCorrection& ctx, int64_t reorderedPts, int64_t dts);

} // namespace korvane

namespace korvane::ThreadRegistry {
// Workers register their operating-system thread id while they run.
void Add(LogTarget* target);
void Remove();
// The job whose worker is the calling thread, or none.
LogTarget* Current();
bool Contains(const LogTarget* target);
int Count();
} // namespace korvane::ThreadRegistry
