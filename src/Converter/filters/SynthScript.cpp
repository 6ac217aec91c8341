#include "filters/SynthScript.h"

#include "filters/SynthLibrary.h"
#include "options/Persistent.h"

extern "C" {
#include <lauxlib.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <lua.h>
#include <lualib.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace korvane {

namespace {

// The hook runs every kHookStep instructions; the budget is checked there.
constexpr int kHookStep = 10000;
// Work in C that allocates (a long string made by "..", string.rep, upper)
// is one instruction to the hook: every kAllocationStep bytes allocated
// while a picture runs are charged as kAllocationStep / 64 instructions.
constexpr size_t kAllocationStep = size_t(1) << 20;

// One row through a table, four samples a step: the loads of a step do not
// wait for its stores, which a byte-wise loop has to assume may change the
// table.
void MapRow(uint8_t* __restrict row, const uint8_t* __restrict lut, int width)
{
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const uint8_t a = lut[row[x]], b = lut[row[x + 1]], c = lut[row[x + 2]], d = lut[row[x + 3]];
        row[x] = a;
        row[x + 1] = b;
        row[x + 2] = c;
        row[x + 3] = d;
    }
    for (; x < width; ++x)
        row[x] = lut[row[x]];
}

uint8_t ClampSample(lua_Number v)
{
    if (std::isnan(v) || v <= 0) return 0;
    if (v >= 255) return 255;
    return uint8_t(std::lround(v));
}

// [start, start + length) clipped to [0, limit); empty as lo == hi. The
// values come from a script: bounded first so the sum cannot overflow.
void ClipSpan(lua_Integer start, lua_Integer length, int limit, lua_Integer& lo, lua_Integer& hi)
{
    const lua_Integer bound = lua_Integer(1) << 40;
    start = std::clamp(start, -bound, bound);
    length = std::clamp<lua_Integer>(length, 0, bound);
    lo = std::clamp<lua_Integer>(start, 0, limit);
    hi = std::clamp<lua_Integer>(start + length, 0, limit);
    if (hi < lo) hi = lo;
}

} // namespace

struct TSynthScript::Plane
{
    int index = 0;
    uint8_t* data = nullptr;
    int linesize = 0;
    int width = 0;
    int height = 0;
};

TSynthScript::TSynthScript(const QString& script, LogFunction log, StopFunction stop)
    : m_log(std::move(log)), m_stop(std::move(stop))
{
    const QByteArray text = script.toUtf8();
    if (text.size() > kMaxScriptBytes)
        throw EEngineError(QStringLiteral("The synth script is %1 bytes long; at most %2 bytes are allowed")
                               .arg(text.size())
                               .arg(kMaxScriptBytes)
                               .toStdString());
    m_lua = lua_newstate(&TSynthScript::Allocate, this);
    if (!m_lua) throw EEngineError("Out of memory while creating the synth script state");
    *static_cast<TSynthScript**>(lua_getextraspace(m_lua)) = this;
    lua_atpanic(m_lua, &TSynthScript::Panic);
    // the sandbox and the script are set up protected: even running out of
    // memory there is an error like any other
    lua_pushcfunction(m_lua, &TSynthScript::Setup);
    lua_pushlightuserdata(m_lua, const_cast<QByteArray*>(&text));
    if (lua_pcall(m_lua, 1, 0, 0) != LUA_OK) {
        m_chunkRef = -1;
        m_loadError = ErrorMessage(m_lua);
    }
    lua_settop(m_lua, 0);
    if (!m_loadError.isEmpty()) Fail(m_loadError);
}

int TSynthScript::Setup(lua_State* L)
{
    TSynthScript& self = Self(L);
    const auto* text = static_cast<const QByteArray*>(lua_touserdata(L, 1));
    OpenBoundedLibrary(L, &TSynthScript::Charge);
    lua_newtable(L);
    self.m_frameRef = luaL_ref(L, LUA_REGISTRYINDEX);
    if (luaL_loadbufferx(L, text->constData(), size_t(text->size()), "=synth", "t") != LUA_OK) {
        self.m_loadError = ErrorMessage(L);
        return 0;
    }
    self.m_chunkRef = luaL_ref(L, LUA_REGISTRYINDEX);
    return 0;
}

QString TSynthScript::ErrorMessage(lua_State* L)
{
    // only a string is read as it is: converting a number would allocate
    switch (lua_type(L, -1)) {
    case LUA_TSTRING: return QString::fromUtf8(lua_tostring(L, -1));
    case LUA_TNUMBER:
        return lua_isinteger(L, -1) ? QString::number(lua_tointeger(L, -1)) : QString::number(lua_tonumber(L, -1));
    default: return QStringLiteral("error object is a %1 value").arg(QString::fromUtf8(luaL_typename(L, -1)));
    }
}

int TSynthScript::Panic(lua_State* L)
{
    // an error outside any protected call: Lua would end the process. The
    // state is left as it is and never used again; the job fails.
    TSynthScript& self = Self(L);
    self.m_panicked = true;
    throw EEngineError(("synth script error outside a protected call: " + ErrorMessage(L)).toStdString());
}

TSynthScript::~TSynthScript()
{
    // no finalizer can exist (__gc is refused), so closing takes no script
    // time; a state that panicked may be inconsistent and is left alone
    if (m_lua && !m_panicked) lua_close(m_lua);
}

void* TSynthScript::Allocate(void* ud, void* ptr, size_t oldSize, size_t newSize)
{
    auto* self = static_cast<TSynthScript*>(ud);
    const size_t old = ptr ? oldSize : 0; // without a block, oldSize names the object type
    if (newSize == 0) {
        std::free(ptr);
        self->m_memoryInUse -= old;
        return nullptr;
    }
    if (newSize > old && self->m_memoryInUse + (newSize - old) > self->m_memoryCap)
        return nullptr; // Lua raises "not enough memory"
    void* block = std::realloc(ptr, newSize);
    if (block) {
        self->m_memoryInUse = self->m_memoryInUse - old + newSize;
        if (newSize > old && (self->m_allocated += newSize - old) >= kAllocationStep) self->ChargeAllocations();
    }
    return block;
}

TSynthScript& TSynthScript::Self(lua_State* L)
{
    return **static_cast<TSynthScript**>(lua_getextraspace(L));
}

void TSynthScript::ChargeAllocations()
{
    const auto units = int64_t(m_allocated / 64);
    m_allocated = 0;
    if (!m_picture || m_aborting) return;
    // an allocator cannot raise an error: the next instruction does
    m_instructions += units;
    const bool stopped = m_stop && m_stop();
    if (!stopped && m_instructions <= m_budget) return;
    m_aborting = true;
    m_stoppedByRequest = stopped;
    lua_sethook(m_lua, &TSynthScript::Hook, LUA_MASKCOUNT, 1);
}

void TSynthScript::Hook(lua_State* L, lua_Debug*)
{
    Charge(L, kHookStep);
}

void TSynthScript::Charge(lua_State* L, long long units)
{
    TSynthScript& self = Self(L);
    if (!self.m_aborting) {
        self.m_instructions += units;
        self.m_sinceStopCheck += units;
        bool stopped = false;
        if (self.m_sinceStopCheck >= kHookStep) {
            self.m_sinceStopCheck = 0;
            stopped = self.m_stop && self.m_stop();
        }
        if (!stopped && self.m_instructions <= self.m_budget) return;
        // from now on every instruction fails, so a pcall in the script
        // cannot catch the abort and go on
        self.m_aborting = true;
        self.m_stoppedByRequest = stopped;
        lua_sethook(L, &TSynthScript::Hook, LUA_MASKCOUNT, 1);
    }
    if (self.m_stoppedByRequest) luaL_error(L, "the job was stopped");
    luaL_error(L, "the script ran more than %I instructions on one picture", lua_Integer(self.m_budget));
}

void TSynthScript::Fail(const QString& message)
{
    if (!m_firstError.isEmpty()) return;
    m_firstError = message.isEmpty() ? QStringLiteral("unknown error") : message;
    if (m_log) m_log(QStringLiteral("synth script error: %1").arg(m_firstError));
}

bool TSynthScript::Process(AVFrame* picture, int64_t number, double timeSeconds, const AVFrame* original)
{
    if (m_chunkRef < 0 || !picture || m_panicked) return false;
    lua_State* L = m_lua;
    m_picture = picture;
    m_original = original;
    m_number = number;
    m_time = timeSeconds;
    std::fill(std::begin(m_touched), std::end(m_touched), false);
    m_instructions = 0;
    m_sinceStopCheck = 0;
    m_allocated = 0;
    m_aborting = false;
    m_stoppedByRequest = false;
    lua_settop(L, 0);
    lua_pushcfunction(L, &TSynthScript::RunPicture);
    lua_sethook(L, &TSynthScript::Hook, LUA_MASKCOUNT, kHookStep);
    const int rc = lua_pcall(L, 0, 0, 0);
    lua_sethook(L, nullptr, 0, 0);
    bool ok = rc == LUA_OK;
    if (!ok) {
        const QString message = ErrorMessage(L);
        Restore();
        if (!m_stoppedByRequest) Fail(message);
        lua_settop(L, 0);
        if (rc == LUA_ERRMEM) lua_gc(L, LUA_GCCOLLECT);
    }
    lua_settop(L, 0);
    m_picture = nullptr;
    m_original = nullptr;
    return ok;
}

int TSynthScript::RunPicture(lua_State* L)
{
    // protected: the script may have filled the memory or emptied `frame`,
    // and setting the table up again can fail like the script itself
    TSynthScript& self = Self(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, self.m_frameRef);
    lua_pushinteger(L, self.m_picture->width);
    lua_setfield(L, -2, "width");
    lua_pushinteger(L, self.m_picture->height);
    lua_setfield(L, -2, "height");
    lua_pushinteger(L, self.m_number);
    lua_setfield(L, -2, "number");
    lua_pushnumber(L, self.m_time);
    lua_setfield(L, -2, "time");
    const luaL_Reg methods[] = {
        {"get", &FrameGet}, {"set", &FrameSet}, {"map", &FrameMap}, {"fill", &FrameFill}, {nullptr, nullptr}};
    luaL_setfuncs(L, methods, 0);
    lua_setglobal(L, "frame");
    lua_rawgeti(L, LUA_REGISTRYINDEX, self.m_chunkRef);
    lua_call(L, 0, 0);
    return 0;
}

TSynthScript::Plane TSynthScript::PlaneAt(int p) const
{
    const AVFrame* f = m_picture;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    Plane plane;
    plane.index = p;
    plane.data = f->data[p];
    plane.linesize = f->linesize[p];
    plane.width = p ? AV_CEIL_RSHIFT(f->width, d ? d->log2_chroma_w : 1) : f->width;
    plane.height = p ? AV_CEIL_RSHIFT(f->height, d ? d->log2_chroma_h : 1) : f->height;
    return plane;
}

TSynthScript::Plane TSynthScript::PlaneArgument(lua_State* L, int index)
{
    const lua_Integer p = luaL_checkinteger(L, index);
    luaL_argcheck(L, p >= 0 && p <= 2, index, "plane must be 0 (Y), 1 (U) or 2 (V)");
    if (!m_picture) luaL_error(L, "frame is only valid while the script runs on a picture");
    return PlaneAt(int(p));
}

void TSynthScript::BackUp(int p)
{
    if (m_touched[p] || !m_picture) return;
    m_touched[p] = true;
    if (m_original) return; // the caller's copy serves
    const Plane plane = PlaneAt(p);
    std::vector<uint8_t>& copy = m_backup[p];
    copy.resize(size_t(plane.width) * size_t(plane.height));
    for (int y = 0; y < plane.height; ++y)
        std::memcpy(copy.data() + size_t(y) * plane.width, plane.data + ptrdiff_t(y) * plane.linesize,
                    size_t(plane.width));
}

void TSynthScript::Restore()
{
    if (!m_picture) return;
    for (int p = 0; p < 3; ++p) {
        if (!m_touched[p]) continue;
        const Plane plane = PlaneAt(p);
        const uint8_t* source = m_original ? m_original->data[p] : m_backup[p].data();
        const ptrdiff_t pitch = m_original ? m_original->linesize[p] : plane.width;
        for (int y = 0; y < plane.height; ++y)
            std::memcpy(plane.data + ptrdiff_t(y) * plane.linesize, source + y * pitch, size_t(plane.width));
        m_touched[p] = false;
    }
}

int TSynthScript::FrameGet(lua_State* L)
{
    TSynthScript& self = Self(L);
    const Plane plane = self.PlaneArgument(L, 2);
    const lua_Integer x = luaL_checkinteger(L, 3), y = luaL_checkinteger(L, 4);
    if (x < 0 || y < 0 || x >= plane.width || y >= plane.height)
        return luaL_error(L, "frame:get: (%I, %I) is outside the plane (%d x %d)", x, y, plane.width,
                          plane.height);
    lua_pushinteger(L, plane.data[y * plane.linesize + x]);
    return 1;
}

int TSynthScript::FrameSet(lua_State* L)
{
    TSynthScript& self = Self(L);
    const Plane plane = self.PlaneArgument(L, 2);
    const lua_Integer x = luaL_checkinteger(L, 3), y = luaL_checkinteger(L, 4);
    const uint8_t v = ClampSample(luaL_checknumber(L, 5));
    if (x < 0 || y < 0 || x >= plane.width || y >= plane.height) return 0;
    self.BackUp(plane.index);
    plane.data[y * plane.linesize + x] = v;
    return 0;
}

int TSynthScript::FrameMap(lua_State* L)
{
    TSynthScript& self = Self(L);
    const Plane plane = self.PlaneArgument(L, 2);
    luaL_checktype(L, 3, LUA_TTABLE);
    uint8_t lut[256];
    for (int i = 0; i < 256; ++i) {
        lua_geti(L, 3, i);
        int isNumber = 0;
        const lua_Number v = lua_tonumberx(L, -1, &isNumber);
        if (!isNumber) return luaL_error(L, "frame:map: lut[%d] is not a number", i);
        lut[i] = ClampSample(v);
        lua_pop(L, 1);
    }
    self.BackUp(plane.index);
    for (int y = 0; y < plane.height; ++y)
        MapRow(plane.data + ptrdiff_t(y) * plane.linesize, lut, plane.width);
    return 0;
}

int TSynthScript::FrameFill(lua_State* L)
{
    TSynthScript& self = Self(L);
    const Plane plane = self.PlaneArgument(L, 2);
    const lua_Integer x = luaL_checkinteger(L, 3), y = luaL_checkinteger(L, 4);
    const lua_Integer w = luaL_checkinteger(L, 5), h = luaL_checkinteger(L, 6);
    const uint8_t v = ClampSample(luaL_checknumber(L, 7));
    lua_Integer x0, x1, y0, y1;
    ClipSpan(x, w, plane.width, x0, x1);
    ClipSpan(y, h, plane.height, y0, y1);
    if (x1 <= x0 || y1 <= y0) return 0;
    self.BackUp(plane.index);
    for (lua_Integer row = y0; row < y1; ++row)
        std::memset(plane.data + row * plane.linesize + x0, v, size_t(x1 - x0));
    return 0;
}

} // namespace korvane
