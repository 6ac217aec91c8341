// The standard library a synth script sees, bounded: every function of it
// that loops in C (out of the instruction hook's reach) either charges its
// loop to the picture's instruction budget as it goes or is refused when its
// worst case is too costly, and no object can get a finalizer.
#pragma once

#include <cstddef>

struct lua_State;

namespace korvane {

// Called by the bounded functions with the work they are about to do (one
// unit about one instruction); raises a Lua error when the budget is spent
// or the job is being stopped.
using SynthChargeFunction = void (*)(lua_State* L, long long units);

// Opens the base library (without dofile, loadfile and print; load of text
// chunks only), string, table and math into L's globals, with the bounded
// functions in place of the library's own. Raises Lua errors: call it
// protected.
void OpenBoundedLibrary(lua_State* L, SynthChargeFunction charge);

// The worst-case number of steps of Lua's matcher for pattern p (size
// bytes) over a text of length characters.
double PatternBound(size_t length, const char* p, size_t size);

} // namespace korvane
