#!/usr/bin/env bash
# Stream copy: korvane-cli against `ffmpeg -c copy` on the same file, in one
# run; one, two and four jobs at once.
source "$(dirname "$0")/common.sh"
in=$(make_input remux_in.mp4 120 1280x720)
copy="--set VideoOptions.VideoStreamCopy=1 --set AudioOptions.AudioStreamCopy=1"
[ "${1:-}" = "--no-header" ] || table_header
for n in 1 2 4; do
  compare_jobs "stream copy mp4 -> mp4, $n job(s)" "$n" "$copy" "-c copy" mp4 "$in"
done
