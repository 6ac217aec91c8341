#include "filters/SynthScript.h"

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

uint8_t ClampSample(lua_Number v)
{
    if (std::isnan(v) || v <= 0) return 0;
    if (v >= 255) return 255;
    return uint8_t(std::lround(v));
}

// `load` of the base library, restricted to text chunks: a binary chunk can
// break the virtual machine's invariants.
int TextOnlyLoad(lua_State* L)
{
    if (lua_gettop(L) < 3) lua_settop(L, 3);
    lua_pushliteral(L, "t");
    lua_replace(L, 3);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// Lua's pattern functions run in C, out of the instruction hook's reach: a
// pattern with a few repetitions can backtrack for hours over a long text,
// and no stop request would be seen. So before one runs, the worst case of
// its matcher is bounded: every start position of the text may be tried, at
// each a repetition ('*', '+', '-'), a balance ('%b') or a back-reference
// may try every position again, and a '?' two ways. A call whose bound
// passes kPatternSteps (a few seconds at worst) is refused with an error.
constexpr double kPatternSteps = 1e9;

// The index after the set that starts at p[i] == '['; as the matcher reads
// it, a ']' right after the '[' (or the '^') belongs to the set.
size_t SkipSet(const char* p, size_t size, size_t i)
{
    size_t j = i + 1;
    if (j < size && p[j] == '^') ++j;
    do {
        if (j >= size) return size;
        if (p[j++] == '%' && j < size) ++j;
    } while (j < size && p[j] != ']');
    return std::min(j + 1, size);
}

double PatternBound(size_t length, const char* p, size_t size)
{
    const double n = double(length) + 1;
    const bool anchored = size > 0 && p[0] == '^';
    double bound = anchored ? 1 : n;
    for (size_t i = anchored ? 1 : 0; i < size && bound <= kPatternSteps;) {
        bool repeatable = true; // one character's item, which a quantifier may follow
        if (p[i] == '%' && i + 1 < size) {
            const char e = p[i + 1];
            if (e == 'b') {
                bound *= n;
                i += 4;
                repeatable = false;
            } else if (e == 'f') {
                i = i + 2 < size && p[i + 2] == '[' ? SkipSet(p, size, i + 2) : i + 2;
                repeatable = false;
            } else if (e >= '1' && e <= '9') {
                bound *= n;
                i += 2;
                repeatable = false;
            } else {
                i += 2;
            }
        } else if (p[i] == '[') {
            i = SkipSet(p, size, i);
        } else {
            repeatable = p[i] != '(' && p[i] != ')';
            ++i;
        }
        if (repeatable && i < size) {
            if (p[i] == '*' || p[i] == '+' || p[i] == '-') {
                bound *= n;
                ++i;
            } else if (p[i] == '?') {
                bound *= 2;
                ++i;
            }
        }
    }
    return bound;
}

// string.find, match, gmatch and gsub behind the bound; upvalue 1 is the
// library's function, upvalue 2 whether argument 4 asks for a plain search.
int GuardedPattern(lua_State* L)
{
    size_t length = 0, size = 0;
    luaL_checklstring(L, 1, &length);
    const char* pattern = luaL_checklstring(L, 2, &size);
    const bool plain = lua_toboolean(L, lua_upvalueindex(2)) && lua_toboolean(L, 4);
    if (!plain && PatternBound(length, pattern, size) > kPatternSteps)
        return luaL_error(L, "the pattern is too costly for a text of %I characters", lua_Integer(length));
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
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
    OpenSandbox();
    if (luaL_loadbufferx(m_lua, text.constData(), size_t(text.size()), "=synth", "t") != LUA_OK) {
        m_loadError = QString::fromUtf8(lua_tostring(m_lua, -1));
        lua_pop(m_lua, 1);
        Fail(m_loadError);
        return;
    }
    m_chunkRef = luaL_ref(m_lua, LUA_REGISTRYINDEX);
    lua_newtable(m_lua);
    m_frameRef = luaL_ref(m_lua, LUA_REGISTRYINDEX);
}

TSynthScript::~TSynthScript()
{
    if (m_lua) lua_close(m_lua);
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
    if (block) self->m_memoryInUse = self->m_memoryInUse - old + newSize;
    return block;
}

void TSynthScript::OpenSandbox()
{
    luaL_requiref(m_lua, LUA_GNAME, luaopen_base, 1);
    luaL_requiref(m_lua, LUA_STRLIBNAME, luaopen_string, 1);
    luaL_requiref(m_lua, LUA_TABLIBNAME, luaopen_table, 1);
    luaL_requiref(m_lua, LUA_MATHLIBNAME, luaopen_math, 1);
    lua_settop(m_lua, 0);
    // files and the console are out of reach
    for (const char* name : {"dofile", "loadfile", "print"}) {
        lua_pushnil(m_lua);
        lua_setglobal(m_lua, name);
    }
    lua_getglobal(m_lua, "load");
    lua_pushcclosure(m_lua, &TextOnlyLoad, 1);
    lua_setglobal(m_lua, "load");
    // the pattern functions, bounded (strings' methods are this table's)
    lua_getglobal(m_lua, LUA_STRLIBNAME);
    for (const char* name : {"find", "match", "gmatch", "gsub"}) {
        lua_getfield(m_lua, -1, name);
        lua_pushboolean(m_lua, std::strcmp(name, "find") == 0);
        lua_pushcclosure(m_lua, &GuardedPattern, 2);
        lua_setfield(m_lua, -2, name);
    }
    lua_pop(m_lua, 1);
}

TSynthScript& TSynthScript::Self(lua_State* L)
{
    return **static_cast<TSynthScript**>(lua_getextraspace(L));
}

void TSynthScript::Hook(lua_State* L, lua_Debug*)
{
    TSynthScript& self = Self(L);
    if (!self.m_aborting) {
        self.m_instructions += kHookStep;
        const bool stopped = self.m_stop && self.m_stop();
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
    if (m_chunkRef < 0 || !picture) return false;
    lua_State* L = m_lua;
    m_picture = picture;
    m_original = original;
    std::fill(std::begin(m_touched), std::end(m_touched), false);
    m_instructions = 0;
    m_aborting = false;
    m_stoppedByRequest = false;
    lua_settop(L, 0);

    // the frame table is rebuilt each time: the script may have changed it
    lua_rawgeti(L, LUA_REGISTRYINDEX, m_frameRef);
    lua_pushinteger(L, picture->width);
    lua_setfield(L, -2, "width");
    lua_pushinteger(L, picture->height);
    lua_setfield(L, -2, "height");
    lua_pushinteger(L, number);
    lua_setfield(L, -2, "number");
    lua_pushnumber(L, timeSeconds);
    lua_setfield(L, -2, "time");
    const luaL_Reg methods[] = {
        {"get", &FrameGet}, {"set", &FrameSet}, {"map", &FrameMap}, {"fill", &FrameFill}, {nullptr, nullptr}};
    luaL_setfuncs(L, methods, 0);
    lua_setglobal(L, "frame");

    lua_rawgeti(L, LUA_REGISTRYINDEX, m_chunkRef);
    lua_sethook(L, &TSynthScript::Hook, LUA_MASKCOUNT, kHookStep);
    const int rc = lua_pcall(L, 0, 0, 0);
    lua_sethook(L, nullptr, 0, 0);
    bool ok = rc == LUA_OK;
    if (!ok) {
        const char* text = lua_tostring(L, -1);
        const QString message =
            text ? QString::fromUtf8(text)
                 : QStringLiteral("error object is a %1 value").arg(QString::fromUtf8(luaL_typename(L, -1)));
        Restore();
        if (!m_stoppedByRequest) Fail(message);
        if (rc == LUA_ERRMEM) lua_gc(L, LUA_GCCOLLECT);
    }
    lua_settop(L, 0);
    m_picture = nullptr;
    m_original = nullptr;
    return ok;
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
    for (int y = 0; y < plane.height; ++y) {
        uint8_t* row = plane.data + ptrdiff_t(y) * plane.linesize;
        for (int x = 0; x < plane.width; ++x)
            row[x] = lut[row[x]];
    }
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
