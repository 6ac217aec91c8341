#!/usr/bin/env bash
# Runs every comparison and writes bench/RESULTS.md (date, machine, figures).
source "$(dirname "$0")/common.sh"
out="$here/RESULTS.md"
{
  echo "# Benchmark results"
  echo
  echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- machine: $cores processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "- ffmpeg tool: $(ffmpeg -version | head -1)"
  echo "- korvane-cli: $("$cli" --version | head -1)"
  echo
  echo "Best of two runs per side. Speed ratio = ffmpeg time / korvane time (>= 1: korvane is no"
  echo "slower). Memory ratio = korvane peak / ffmpeg peak; with N jobs korvane is one process and"
  echo "ffmpeg N processes whose peaks are summed."
  echo
  table_header
  bash "$here/remux.sh" --no-header
  bash "$here/encode.sh" --no-header
  bash "$here/gui.sh" --section
  bash "$here/history.sh"
  # what the figures mean and where we stand, kept by hand beside the script
  [ -f "$here/NOTES.md" ] && cat "$here/NOTES.md"
  bash "$here/synth.sh"
} | tee "$out.tmp"
mv "$out.tmp" "$out"
# the resume section (before the preview's)
bash "$here/resume.sh" >/dev/null || echo "resume benchmark failed" >&2
# the preview's own section (it keeps what is above it)
bash "$here/preview.sh" >/dev/null || echo "preview benchmark failed" >&2
