#!/usr/bin/env bash
# The history and task-list figures: a category of 10,000 finished tasks
# listed through the real models, and eight conversions at once with their
# row updates and the main thread's share of a core. Prints a section of
# RESULTS.md.
# needs no korvane-cli, only the benchmark program
export KORVANE_CLI="${KORVANE_CLI:-/bin/true}"
source "$(dirname "$0")/common.sh"
bench="${KORVANE_BENCH_HISTORY:-$root/build/bench/history/korvane_bench_history}"
[ -x "$bench" ] || { echo "build korvane_bench_history first"; exit 1; }
input=$(make_input history_10s.mp4 10 640x360)
out=$("$bench" 10000 3 "$input" 2>/dev/null) || true  # exit 1: over a second
listing=$(grep '^RESULT history' <<<"$out" | sed 's/^RESULT //')
eight=$(grep '^RESULT eight' <<<"$out" | sed 's/^RESULT //')
echo
echo "## History and task list"
echo
echo "| case | figure |"
echo "|---|---|"
echo "| list a category (open, select, first paint; best of 3) | ${listing#history listing of } |"
echo "| ${eight%%:*} ($(basename "$input"), MPEG-4) | ${eight#*: } |"
echo
echo "Breakdown of one listing run:"
echo
echo '```'
grep -E '^(breakdown|dates|raw|settings|summary|task|full|run)' <<<"$out" | sed 's/^/  /'
echo '```'
