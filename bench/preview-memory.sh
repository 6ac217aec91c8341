#!/usr/bin/env bash
# The preview's peak memory while paused, on the two sources that made its
# queues grow: a 1-hour MP4 of one still picture with sound, and a 10-minute
# 1080p file paused after its sound ended. The files are made in $TMPDIR
# (they are large and never committed).
#   bench/preview-memory.sh [WAIT_SECONDS]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
bench="${KORVANE_PREVIEW_BENCH:-$root/build/tests/korvane_preview_bench}"
[ -x "$bench" ] || { echo "build korvane_preview_bench first"; exit 1; }
wait="${1:-20}"
tmp="${TMPDIR:-/tmp}/korvane-preview-memory"
mkdir -p "$tmp"
still="$tmp/still_1h.mp4"
hd="$tmp/hd_10min.mp4"
[ -f "$still" ] || nice ffmpeg -v error -y -f lavfi -i "color=c=navy:size=1280x720:rate=1:duration=1" \
    -f lavfi -i "sine=frequency=440:duration=3600" -c:v libx264 -tune stillimage -c:a aac "$still"
[ -f "$hd" ] || nice ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=600" \
    -f lavfi -i "sine=frequency=440:duration=10" -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p \
    -c:a aac "$hd"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "source | peak RSS MB | pictures queued | sound queued s"
echo "1-hour still-image MP4, paused at the start | $("$bench" memory "$still" 0 "$wait" | tr ' ' '|')"
echo "10-minute 1080p, paused at 5:00 (sound ended at 0:10) | $("$bench" memory "$hd" 300 "$wait" | tr ' ' '|')"
