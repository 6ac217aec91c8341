// The script host of the "synth" video element: one embedded Lua 5.4 state
// that runs a user's script once per picture and changes the picture in
// place.
//
// The script sees a global `frame`:
//   frame.width, frame.height      the picture size (luma)
//   frame.number                   0 for the first picture of the element
//   frame.time                     the picture's time in seconds
//   frame:get(plane, x, y)         plane 0 is Y, 1 is U, 2 is V (half size)
//   frame:set(plane, x, y, v)      v clamped to 0..255; outside the plane: ignored
//   frame:map(plane, lut)          lut[0..255] applied to every sample, in C++
//   frame:fill(plane, x, y, w, h, v)  a rectangle, clipped to the plane
//
// The script comes from stored profiles and the history, so it runs in a
// sandbox: only the base library (no dofile, loadfile, print; load takes
// text chunks only), string, table and math; a budget of instructions per
// picture, which the library's loops in C and large allocations are charged
// to as well (SynthLibrary); no finalizers; a cap on the state's memory.
// Every entry into the state is protected, so even a full memory is a
// script error. A script that fails (at load or on a picture, including an
// exhausted budget or a stop request) leaves that picture unchanged; the
// first error message is reported once.
//
// One host belongs to one job's worker thread; it is not shared.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct AVFrame;
struct lua_State;
struct lua_Debug;

namespace korvane {

class TSynthScript
{
public:
    // The longest script text, in bytes of UTF-8 (a 64 KiB field with its
    // terminator).
    static constexpr qsizetype kMaxScriptBytes = 65535;
    static constexpr int64_t kDefaultInstructionBudget = 100'000'000;
    static constexpr size_t kDefaultMemoryCap = size_t(64) << 20;

    using LogFunction = std::function<void(const QString& message)>;
    using StopFunction = std::function<bool()>;

    // Compiles the script. A script longer than kMaxScriptBytes raises
    // EEngineError; a script that does not compile is kept as failed (its
    // message reported on the first picture) and pictures pass unchanged.
    TSynthScript(const QString& script, LogFunction log, StopFunction stop = {});
    ~TSynthScript();
    TSynthScript(const TSynthScript&) = delete;
    TSynthScript& operator=(const TSynthScript&) = delete;

    void SetInstructionBudget(int64_t instructions) { m_budget = instructions; }
    void SetMemoryCap(size_t bytes) { m_memoryCap = bytes; }

    // Runs the script on a writable yuv420p/yuvj420p picture. True when the
    // script ran to its end; false when it failed and the picture was put back
    // as it was. original, when given, is an untouched copy of the picture
    // (same size and format): a failure restores from it instead of from a
    // copy of its own.
    bool Process(AVFrame* picture, int64_t number, double timeSeconds, const AVFrame* original = nullptr);

    // The first error met, empty while none.
    QString FirstError() const { return m_firstError; }
    size_t MemoryInUse() const { return m_memoryInUse; }

private:
    struct Plane;
    static void* Allocate(void* ud, void* ptr, size_t oldSize, size_t newSize);
    static void Hook(lua_State* L, lua_Debug* ar);
    // Counts units of work against the picture's budget; raises the budget's
    // or the stop's error when one is due (the bounded library calls it).
    static void Charge(lua_State* L, long long units);
    static int Setup(lua_State* L);
    static int RunPicture(lua_State* L);
    [[noreturn]] static int Panic(lua_State* L);
    static QString ErrorMessage(lua_State* L);
    void ChargeAllocations();
    static int FrameGet(lua_State* L);
    static int FrameSet(lua_State* L);
    static int FrameMap(lua_State* L);
    static int FrameFill(lua_State* L);
    static TSynthScript& Self(lua_State* L);

    void Fail(const QString& message);
    Plane PlaneAt(int p) const;
    Plane PlaneArgument(lua_State* L, int index);
    void BackUp(int plane); // keeps a plane's samples before its first change
    void Restore();

    LogFunction m_log;
    StopFunction m_stop;
    lua_State* m_lua = nullptr;
    int m_chunkRef = -1; // the compiled script in the registry; -1 when it failed to compile
    int m_frameRef = -1; // the `frame` table
    int64_t m_budget = kDefaultInstructionBudget;
    int64_t m_instructions = 0;
    int64_t m_sinceStopCheck = 0;
    bool m_aborting = false; // budget exhausted or stop: every instruction fails now
    bool m_stoppedByRequest = false;
    bool m_panicked = false; // an error escaped every protected call: the state is not used again
    size_t m_memoryCap = kDefaultMemoryCap;
    size_t m_memoryInUse = 0;
    size_t m_allocated = 0; // bytes allocated since the last charge
    QString m_firstError;
    QString m_loadError;
    AVFrame* m_picture = nullptr;        // during Process only
    int64_t m_number = 0;                // during Process only
    double m_time = 0;                   // during Process only
    const AVFrame* m_original = nullptr; // during Process only
    bool m_touched[3] = {};              // planes changed during this Process
    std::vector<uint8_t> m_backup[3];
};

} // namespace korvane
