#!/usr/bin/env bash
# Stream copy: korvane-cli against `ffmpeg -c copy` on the same file, in one run.
# Speed ratio = ffmpeg time / korvane time (>= 1.0: we are no slower).
source "$(dirname "$0")/common.sh"
in=$(make_input remux_in.mp4 120 1280x720)
compare "remux mp4 -> mkv (copy)" \
  "'$cli' convert '$in' -o '$work/k.mkv' --overwrite --quiet --set VideoOptions.VideoStreamCopy=1 --set AudioOptions.AudioStreamCopy=1" \
  "ffmpeg -y -loglevel error -i '$in' -c copy '$work/f.mkv'"
