#!/usr/bin/env bash
# Re-encoding: korvane-cli against the ffmpeg tool with equivalent settings on
# the same 1080p clip, one job and two jobs at once.
source "$(dirname "$0")/common.sh"
in=$(make_input encode_in.mp4 20 1920x1080)
k_mpeg4="'$cli' convert '$in' --overwrite --quiet --set VideoOptions.EncoderVideoCodecName=mpeg4 --set VideoOptions.FrameWidth=480 --set VideoOptions.FrameHeight=320 --set VideoOptions.Bitrate=800000 --set AudioOptions.EncoderAudioCodecName=aac --set AudioOptions.Bitrate=128000 --set ThreadCount=0"
f_mpeg4="ffmpeg -y -loglevel error -i '$in' -c:v mpeg4 -s 480x320 -b:v 800k -c:a aac -b:a 128k"
k_h264="'$cli' convert '$in' --overwrite --quiet --set VideoOptions.EncoderVideoCodecName=libx264 --set VideoOptions.FrameWidth=1280 --set VideoOptions.FrameHeight=720 --set VideoOptions.Bitrate=2000000 --set AudioOptions.EncoderAudioCodecName=aac --set AudioOptions.Bitrate=128000 --set ThreadCount=0"
f_h264="ffmpeg -y -loglevel error -i '$in' -c:v libx264 -s 1280x720 -b:v 2000k -c:a aac -b:a 128k"
compare "mpeg4 480x320, 1 job" "$k_mpeg4 -o '$work/k1.mp4'" "$f_mpeg4 '$work/f1.mp4'"
compare "mpeg4 480x320, 2 jobs" "$k_mpeg4 -o '$work/k1.mp4' & $k_mpeg4 -o '$work/k2.mp4'; wait" \
  "$f_mpeg4 '$work/f1.mp4' & $f_mpeg4 '$work/f2.mp4'; wait"
compare "h264 1280x720, 1 job" "$k_h264 -o '$work/k3.mp4'" "$f_h264 '$work/f3.mp4'"
compare "h264 1280x720, 2 jobs" "$k_h264 -o '$work/k3.mp4' & $k_h264 -o '$work/k4.mp4'; wait" \
  "$f_h264 '$work/f3.mp4' & $f_h264 '$work/f4.mp4'; wait"
