#!/usr/bin/env bash
# The desktop program: start-up to a shown window, and the main thread's CPU
# while eight tasks convert. Runs korvane_gui_bench under Xvfb with a
# throwaway settings folder (so the history starts empty).
#   bench/gui.sh [--section]   --section prints a RESULTS.md section
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
work="$here/work"
mkdir -p "$work"
build="${KORVANE_BUILD:-$root/build}"
cmake --build "$build" --target korvane_gui_bench >/dev/null
clip="$work/gui-640x480-120s.mp4"
[ -f "$clip" ] || ffmpeg -y -hide_banner -loglevel error -f lavfi -i "testsrc2=size=640x480:rate=25:duration=120" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=120" -ac 2 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k "$clip"

run() {
  local config
  config="$(mktemp -d)"
  XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$config" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1600x1000x24" "$build/src/app/korvane_gui_bench" "$clip" "${1:-10}" 2>/dev/null
  rm -rf "$config"
}

# the first start creates the settings folder and database; the second is
# the everyday start
run 2 >/dev/null
result="$(run 10)"
value() { echo "$result" | awk -v k="$1" '$1 == k { print $2 }'; }

if [ "${1:-}" = "--section" ]; then
  echo
  echo "## Desktop program (bench/gui.sh)"
  echo
  echo "| figure | value | goal |"
  echo "|---|---:|---:|"
  echo "| start-up to the shown main window | $(value startup_to_shown_s) s | < 1 s |"
  echo "| main thread CPU, 8 tasks converting (MPEG-4, 640x480) | $(value main_thread_cpu_percent) % of a core | < 5 % |"
  echo "| whole process CPU meanwhile | $(value process_cpu_percent) % | |"
  echo "| row updates per task per second | $(value row_updates_per_task_per_s) | <= 10 |"
  echo "| tasks still running at the end | $(value tasks_running) of 8 | |"
else
  echo "$result"
fi
