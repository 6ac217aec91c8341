#!/usr/bin/env bash
# Pictures per second of the synth element running frame:map on 1080p
# yuv420p pictures: the script host alone, and with the filter graph that
# hands it the pictures. Prints a section of RESULTS.md.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
tests="${KORVANE_CONVERTER_TESTS:-$root/build/tests/converter_tests}"
[ -x "$tests" ] || { echo "build converter_tests first (cmake --build build --target converter_tests)"; exit 1; }
echo
echo "## synth element: frame:map on 1080p"
echo
echo "300 pictures of 1920x1080 yuv420p, a 256-entry table built in Lua and applied to Y by"
echo "frame:map, single thread, and a script of library calls on a small picture"
echo "(tests/Converter/SynthBenchTest.cpp):"
echo
"$tests" --gtest_also_run_disabled_tests --gtest_filter='SynthBench.*' | sed -n 's/^synth bench: /- /p'
