#include "av/AVLib.h"

#include "av/FFmpeg.h"

#include <QThread>
#include <atomic>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace korvane {

namespace {

std::once_flag g_registerOnce;
std::atomic<bool> g_registered{false};

// Jobs by id and workers by thread id. The log bridge reads both from any
// thread; converters add and remove themselves.
std::shared_mutex g_registryLock;
std::unordered_map<int, LogTarget*> g_jobs;           // guarded by g_registryLock
std::unordered_map<uint32_t, LogTarget*> g_threads;  // guarded by g_registryLock
int g_nextJobId = 1;                                     // guarded by g_registryLock

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

// Per thread: text of a line not yet ended, and the prefix state, per job.
struct PartialLine
{
    std::string text;
    int printPrefix = 1;
};
thread_local std::unordered_map<int, PartialLine> t_partial;
thread_local bool t_inCallback = false;

int JobIdOfContext(void* avcl)
{
    // Walk up to a context that carries the job id: codec and format
    // contexts and filter graphs keep it in opaque, filters in their
    // graph's opaque.
    for (int depth = 0; avcl && depth < 4; ++depth) {
        const AVClass* cls = *static_cast<const AVClass**>(avcl);
        if (!cls)
            return 0;
        const char* name = cls->class_name;
        if (name && std::strcmp(name, "AVCodecContext") == 0)
            return static_cast<int>(reinterpret_cast<intptr_t>(static_cast<AVCodecContext*>(avcl)->opaque));
        if (name && std::strcmp(name, "AVFormatContext") == 0)
            return static_cast<int>(reinterpret_cast<intptr_t>(static_cast<AVFormatContext*>(avcl)->opaque));
        if (name && std::strcmp(name, "AVFilterGraph") == 0)
            return static_cast<int>(reinterpret_cast<intptr_t>(static_cast<AVFilterGraph*>(avcl)->opaque));
        if (name && std::strcmp(name, "AVFilter") == 0) {
            AVFilterGraph* graph = static_cast<AVFilterContext*>(avcl)->graph;
            return graph ? static_cast<int>(reinterpret_cast<intptr_t>(graph->opaque)) : 0;
        }
        if (cls->parent_log_context_offset <= 0)
            return 0;
        avcl = *reinterpret_cast<void**>(static_cast<uint8_t*>(avcl) + cls->parent_log_context_offset);
    }
    return 0;
}

void LogBridge(void* avcl, int level, const char* fmt, va_list vl)
{
    LogCallback(avcl, level, fmt, vl);
}

} // namespace

void LoadMediaLibraries()
{
    std::call_once(g_registerOnce, [] {
        avdevice_register_all();
        avformat_network_init();
    });
    if (!g_registered.exchange(true)) {
        // the bridge filters levels per job itself
        av_log_set_callback(&LogBridge);
        av_log_set_flags(AV_LOG_SKIP_REPEATED);
    }
}

void UnloadMediaLibraries()
{
    if (g_registered.exchange(false))
        av_log_set_callback(&av_log_default_callback);
}

void LogCallback(void* avcl, int level, const char* fmt, va_list vl)
{
    if (t_inCallback)
        return; // a handler that logs again would re-enter the registry lock
    t_inCallback = true;
    try {
        const int lvl = level & 0xff;
        LogTarget* converter = nullptr;
        {
            // the lock only covers the lookup: handlers run without it, so a
            // handler that creates or frees a converter cannot deadlock. A
            // converter leaves the registry only after its worker and every
            // context it opened are gone, so no line can still reach it then.
            std::shared_lock lock(g_registryLock);
            const int jobId = JobIdOfContext(avcl);
            if (jobId > 0) {
                auto it = g_jobs.find(jobId);
                converter = it == g_jobs.end() ? nullptr : it->second;
            }
            if (!converter) {
                auto it = g_threads.find(CurrentThreadId());
                converter = it == g_threads.end() ? nullptr : it->second;
            }
        }
        if (converter && lvl <= converter->LogLevelNow()) {
            PartialLine& partial = t_partial[converter->LogJobId()];
            char buf[1024];
            va_list copy;
            va_copy(copy, vl);
            av_log_format_line2(avcl, level, fmt, copy, buf, sizeof buf, &partial.printPrefix);
            va_end(copy);
            partial.text += buf;
            // a line longer than the buffer was cut: it ends here
            const bool cut = std::strlen(buf) + 1 >= sizeof buf;
            if (!partial.text.empty() && (partial.text.back() == '\n' || cut)) {
                std::string line = std::move(partial.text);
                partial.text.clear();
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                    line.pop_back();
                converter->DeliverLogLine(lvl, QString::fromLocal8Bit(line.data(), int(line.size())));
            }
        }
    } catch (...) {
        // a line that cannot be delivered is lost, never the job
    }
    t_inCallback = false;
}

int RegisterLogJob(LogTarget* converter)
{
    std::unique_lock lock(g_registryLock);
    const int id = g_nextJobId++;
    g_jobs[id] = converter;
    return id;
}

void UnregisterLogJob(int jobId)
{
    std::unique_lock lock(g_registryLock);
    g_jobs.erase(jobId);
}

void TagContext(AVCodecContext* ctx, int jobId)
{
    if (ctx)
        ctx->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(jobId));
}

void TagContext(AVFormatContext* ctx, int jobId)
{
    if (ctx)
        ctx->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(jobId));
}

void TagContext(AVFilterGraph* graph, int jobId)
{
    if (graph)
        graph->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(jobId));
}

QByteArray LibraryUrl(const QString& name)
{
    const int colon = name.indexOf(QLatin1Char(':'));
    const int slash = name.indexOf(QLatin1Char('/'));
    if (colon <= 0 || (slash >= 0 && slash < colon))
        return name.toUtf8();
    const QString scheme = name.left(colon);
    for (int output = 0; output <= 1; ++output) {
        void* it = nullptr;
        while (const char* protocol = avio_enum_protocols(&it, output))
            if (scheme.compare(QLatin1String(protocol), Qt::CaseInsensitive) == 0)
                return name.toUtf8();
    }
    return "file:" + name.toUtf8();
}

int Clip(int value, int lower, int upper)
{
    if (value < lower)
        return lower;
    if (value > upper)
        return upper;
    return value;
}

void SleepMicroseconds(int64_t us)
{
    QThread::msleep(static_cast<unsigned long>(us / 1000));
}

QString TimeText(int64_t seconds)
{
    return QString::asprintf("%d:%d:%d", int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60));
}

uint32_t SwapRgb(uint32_t colour)
{
    return (colour & 0xff00ff00u) | ((colour & 0xffu) << 16) | ((colour >> 16) & 0xffu);
}

int SampleFormatPair(int first, int second)
{
    return static_cast<int8_t>(first) + 5 * static_cast<int8_t>(second);
}

int64_t GuessCorrectPts(PtsCorrection& ctx, int64_t reorderedPts, int64_t dts)
{
    if (dts != AV_NOPTS_VALUE) {
        ctx.faultyDts += dts <= ctx.lastDts;
        ctx.lastDts = dts;
    }
    if (reorderedPts != AV_NOPTS_VALUE) {
        ctx.faultyPts += reorderedPts <= ctx.lastPts;
        ctx.lastPts = reorderedPts;
    }
    if (ctx.faultyPts > ctx.faultyDts && dts != AV_NOPTS_VALUE)
        return dts;
    return reorderedPts != AV_NOPTS_VALUE ? reorderedPts : dts;
}

namespace ThreadRegistry {

void Add(LogTarget* converter)
{
    std::unique_lock lock(g_registryLock);
    g_threads[CurrentThreadId()] = converter;
}

void Remove()
{
    std::unique_lock lock(g_registryLock);
    g_threads.erase(CurrentThreadId());
}

LogTarget* Current()
{
    std::shared_lock lock(g_registryLock);
    auto it = g_threads.find(CurrentThreadId());
    return it == g_threads.end() ? nullptr : it->second;
}

bool Contains(const LogTarget* converter)
{
    std::shared_lock lock(g_registryLock);
    for (const auto& [tid, c] : g_threads)
        if (c == converter)
            return true;
    return false;
}

int Count()
{
    std::shared_lock lock(g_registryLock);
    return static_cast<int>(g_threads.size());
}

} // namespace ThreadRegistry

} // namespace korvane
