#include "filters/SynthLibrary.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace korvane {

namespace {

// The registry key of the charge function.
const char kChargeKey = 0;

// C loops charge their work in batches of this many steps.
constexpr lua_Integer kChargeBatch = 4096;

SynthChargeFunction ChargeOf(lua_State* L)
{
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kChargeKey);
    auto charge = reinterpret_cast<SynthChargeFunction>(lua_touserdata(L, -1));
    lua_pop(L, 1);
    return charge;
}

void Charge(lua_State* L, lua_Integer units)
{
    if (units > 0)
        ChargeOf(L)(L, units);
}

// Calls the function in upvalue 1 with the arguments on the stack; returns
// all its results.
int CallOriginal(lua_State* L)
{
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// `load` of the base library, restricted to text chunks: a binary chunk can
// break the virtual machine's invariants.
int TextOnlyLoad(lua_State* L)
{
    if (lua_gettop(L) < 3) lua_settop(L, 3);
    lua_pushliteral(L, "t");
    lua_replace(L, 3);
    return CallOriginal(L);
}

// A finalizer runs when the collector decides, with no budget and no way to
// stop it (at the latest when the state closes): metatables with a __gc
// field, even a placeholder filled in later, are refused.
int NoFinalizerSetmetatable(lua_State* L)
{
    if (lua_type(L, 2) == LUA_TTABLE) {
        lua_pushliteral(L, "__gc");
        if (lua_rawget(L, 2) != LUA_TNIL) return luaL_error(L, "finalizers (__gc) are not available to scripts");
        lua_pop(L, 1);
    }
    return CallOriginal(L);
}

// Lua's pattern functions run in C, out of the instruction hook's reach: a
// pattern with a few repetitions can backtrack for hours over a long text,
// and no stop request would be seen. So before one runs, the worst case of
// its matcher is bounded: every start position of the text may be tried, at
// each a repetition ('*', '+', '-'), a balance ('%b') or a back-reference
// may try every position again, and a '?' two ways; and every step may
// compare a character with each range of the largest set. A call whose bound
// passes kPatternSteps (well under a second) is refused with an error.
constexpr double kPatternSteps = 2e8;

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
    return CallOriginal(L);
}

// string.rep: an empty result is made at once (the library would loop over
// every repetition of nothing); any other result is allocated whole before
// the loop, so the memory cap bounds its repetitions.
int BoundedRep(lua_State* L)
{
    size_t length = 0, separator = 0;
    luaL_checklstring(L, 1, &length);
    const lua_Integer n = luaL_checkinteger(L, 2);
    luaL_optlstring(L, 3, "", &separator);
    if (n <= 0 || length + separator == 0) {
        lua_pushliteral(L, "");
        return 1;
    }
    return CallOriginal(L);
}

// string.format: one step a byte of the format and a step an argument.
int BoundedFormat(lua_State* L)
{
    size_t size = 0;
    luaL_checklstring(L, 1, &size);
    Charge(L, lua_Integer(size) + lua_gettop(L));
    return CallOriginal(L);
}

// [first, last] as a count of elements; 0 when empty, saturated at maxinteger.
lua_Integer SpanCount(lua_Integer first, lua_Integer last)
{
    if (last < first) return 0;
    const lua_Unsigned n = lua_Unsigned(last) - lua_Unsigned(first);
    return n >= lua_Unsigned(LUA_MAXINTEGER) ? LUA_MAXINTEGER : lua_Integer(n + 1);
}

// table.concat and table.unpack: the bounds are taken once (a __len is
// asked once), charged, and handed explicitly to the library's function.
// first is the argument index of the first bound.
int WithExplicitBounds(lua_State* L, int first)
{
    const lua_Integer i = luaL_optinteger(L, first, 1);
    const lua_Integer j = lua_isnoneornil(L, first + 1) ? luaL_len(L, 1) : luaL_checkinteger(L, first + 1);
    Charge(L, SpanCount(i, j));
    lua_settop(L, first + 1);
    lua_pushinteger(L, i);
    lua_replace(L, first);
    lua_pushinteger(L, j);
    lua_replace(L, first + 1);
    return CallOriginal(L);
}

int BoundedConcat(lua_State* L)
{
    luaL_optstring(L, 2, "");
    if (lua_isnone(L, 2)) lua_pushliteral(L, "");
    return WithExplicitBounds(L, 3);
}

int BoundedUnpack(lua_State* L) { return WithExplicitBounds(L, 2); }

// Charges the steps of a loop in batches as it goes.
struct ShiftCharge
{
    lua_State* L;
    lua_Integer pending = 0;
    void Step()
    {
        if (++pending == kChargeBatch) {
            Charge(L, pending);
            pending = 0;
        }
    }
    void Done() { Charge(L, pending); }
};

// table.move as the library's, with its loop charged as it goes (a stop
// is seen within the loop).
int BoundedMove(lua_State* L)
{
    const lua_Integer f = luaL_checkinteger(L, 2), e = luaL_checkinteger(L, 3), t = luaL_checkinteger(L, 4);
    const int target = lua_isnoneornil(L, 5) ? 1 : 5;
    if (e >= f) {
        luaL_argcheck(L, f > 0 || e < LUA_MAXINTEGER + f, 3, "too many elements to move");
        const lua_Integer n = e - f + 1;
        luaL_argcheck(L, t <= LUA_MAXINTEGER - n + 1, 4, "destination wrap around");
        const bool forward = t > e || t <= f || (target != 1 && !lua_compare(L, 1, target, LUA_OPEQ));
        ShiftCharge charge{L};
        for (lua_Integer k = 0; k < n; ++k) {
            charge.Step();
            const lua_Integer i = forward ? k : n - 1 - k;
            lua_geti(L, 1, f + i);
            lua_seti(L, target, t + i);
        }
        charge.Done();
    }
    lua_pushvalue(L, target);
    return 1;
}

// table.insert as the library's, with the shifting loop charged: a __len
// may claim any length.
int BoundedInsert(lua_State* L)
{
    const lua_Integer size = luaL_len(L, 1);
    const lua_Unsigned end = lua_Unsigned(size) + 1; // the first empty position
    lua_Integer pos = 0;
    switch (lua_gettop(L)) {
    case 2: pos = lua_Integer(end); break;
    case 3: {
        pos = luaL_checkinteger(L, 2);
        luaL_argcheck(L, lua_Unsigned(pos) - 1u < end, 2, "position out of bounds");
        ShiftCharge charge{L};
        for (lua_Unsigned i = end; i > lua_Unsigned(pos); --i) {
            charge.Step();
            lua_geti(L, 1, lua_Integer(i - 1));
            lua_seti(L, 1, lua_Integer(i));
        }
        charge.Done();
        break;
    }
    default: return luaL_error(L, "wrong number of arguments to 'insert'");
    }
    lua_seti(L, 1, pos);
    return 0;
}

// table.remove as the library's, with the shifting loop charged.
int BoundedRemove(lua_State* L)
{
    const lua_Integer size = luaL_len(L, 1);
    lua_Integer pos = luaL_optinteger(L, 2, size);
    if (pos != size)
        luaL_argcheck(L, lua_Unsigned(pos) - 1u <= lua_Unsigned(size), 2, "position out of bounds");
    lua_geti(L, 1, pos);
    ShiftCharge charge{L};
    for (; pos < size; ++pos) {
        charge.Step();
        lua_geti(L, 1, pos + 1);
        lua_seti(L, 1, pos);
    }
    charge.Done();
    lua_pushnil(L);
    lua_seti(L, 1, pos);
    return 1;
}

// table.sort: n log n steps charged up front. A table with a metatable is
// sorted as a plain copy of its elements 1..#t, written back after, so a
// __len asked twice cannot make the library's loop longer than was charged.
int BoundedSort(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TTABLE);
    const lua_Integer n = luaL_len(L, 1);
    if (n <= 1) return 0;
    const double steps = double(n) * (std::log2(double(n)) + 1);
    Charge(L, steps >= double(LUA_MAXINTEGER) ? LUA_MAXINTEGER : lua_Integer(steps));
    if (!lua_getmetatable(L, 1)) return CallOriginal(L);
    lua_pop(L, 1);
    Charge(L, 2 * n);
    lua_settop(L, 2);
    lua_createtable(L, int(std::min<lua_Integer>(n, 1 << 20)), 0);
    for (lua_Integer i = 1; i <= n; ++i) {
        lua_geti(L, 1, i);
        lua_seti(L, 3, i);
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushvalue(L, 3);
    lua_pushvalue(L, 2);
    lua_call(L, 2, 0);
    for (lua_Integer i = 1; i <= n; ++i) {
        lua_geti(L, 3, i);
        lua_seti(L, 1, i);
    }
    return 0;
}

// Replaces table[name] by f with the old function as upvalue 1 (and extra,
// when given, as upvalue 2).
void Wrap(lua_State* L, const char* name, lua_CFunction f, int extra = -1)
{
    lua_getfield(L, -1, name);
    int upvalues = 1;
    if (extra >= 0) {
        lua_pushboolean(L, extra);
        upvalues = 2;
    }
    lua_pushcclosure(L, f, upvalues);
    lua_setfield(L, -2, name);
}

} // namespace

double PatternBound(size_t length, const char* p, size_t size)
{
    const double n = double(length) + 1;
    const bool anchored = size > 0 && p[0] == '^';
    double bound = anchored ? 1 : n;
    double widestSet = 1; // the ranges one step may compare
    for (size_t i = anchored ? 1 : 0; i < size && bound <= kPatternSteps;) {
        bool repeatable = true; // one character's item, which a quantifier may follow
        if (p[i] == '%' && i + 1 < size) {
            const char e = p[i + 1];
            if (e == 'b') {
                bound *= n;
                i += 4;
                repeatable = false;
            } else if (e == 'f') {
                const size_t set = i + 2;
                i = set < size && p[set] == '[' ? SkipSet(p, size, set) : set;
                widestSet = std::max(widestSet, double(i - set));
                repeatable = false;
            } else if (e >= '1' && e <= '9') {
                bound *= n;
                i += 2;
                repeatable = false;
            } else {
                i += 2;
            }
        } else if (p[i] == '[') {
            const size_t set = i;
            i = SkipSet(p, size, i);
            widestSet = std::max(widestSet, double(i - set));
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
    return bound * widestSet;
}

void OpenBoundedLibrary(lua_State* L, SynthChargeFunction charge)
{
    lua_pushlightuserdata(L, reinterpret_cast<void*>(charge));
    lua_rawsetp(L, LUA_REGISTRYINDEX, &kChargeKey);
    luaL_requiref(L, LUA_GNAME, luaopen_base, 1);
    luaL_requiref(L, LUA_STRLIBNAME, luaopen_string, 1);
    luaL_requiref(L, LUA_TABLIBNAME, luaopen_table, 1);
    luaL_requiref(L, LUA_MATHLIBNAME, luaopen_math, 1);
    lua_settop(L, 0);
    // files and the console are out of reach
    for (const char* name : {"dofile", "loadfile", "print"}) {
        lua_pushnil(L);
        lua_setglobal(L, name);
    }
    lua_pushglobaltable(L);
    Wrap(L, "load", &TextOnlyLoad);
    Wrap(L, "setmetatable", &NoFinalizerSetmetatable);
    lua_pop(L, 1);
    // strings' methods are this table's
    lua_getglobal(L, LUA_STRLIBNAME);
    for (const char* name : {"find", "match", "gmatch", "gsub"})
        Wrap(L, name, &GuardedPattern, std::strcmp(name, "find") == 0);
    Wrap(L, "rep", &BoundedRep);
    Wrap(L, "format", &BoundedFormat);
    lua_pop(L, 1);
    lua_getglobal(L, LUA_TABLIBNAME);
    Wrap(L, "concat", &BoundedConcat);
    Wrap(L, "unpack", &BoundedUnpack);
    Wrap(L, "sort", &BoundedSort);
    lua_pushcfunction(L, &BoundedMove);
    lua_setfield(L, -2, "move");
    lua_pushcfunction(L, &BoundedInsert);
    lua_setfield(L, -2, "insert");
    lua_pushcfunction(L, &BoundedRemove);
    lua_setfield(L, -2, "remove");
    lua_pop(L, 1);
}

} // namespace korvane
