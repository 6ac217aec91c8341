#!/usr/bin/env bash
# Re-encoding with catalog profiles: korvane-cli -p PROFILE against the ffmpeg
# tool given what that profile's Apply writes into the options; one, two and
# four jobs at once.
source "$(dirname "$0")/common.sh"
in=$(make_input encode_in.mp4 10 854x480)
threads="-threads $cores" # korvane: ThreadCount 0 in the configuration = one per processor

# "Normal AVI (*.avi)": MPEG-4 480x320 25 fps 1200 kbit/s, PCM 16-bit stereo
# at the source's rate, AVI container.
k_avi="-p 'Normal AVI (*.avi)'"
f_avi="$threads -c:v mpeg4 -s 480x320 -r 25 -b:v 1200k -c:a pcm_s16le -ac 2 -f avi"

# "Matroska Video": H.264 at the source size, 25 fps, 1200 kbit/s with the
# encoder settings of the basic H.264 preset (legacy names as the engine
# translates them), MP3 48 kHz stereo 128 kbit/s.
k_mkv="-p 'Matroska Video'"
f_mkv="$threads -c:v libx264 -b:v 1200k -r 25 -coder 1 -flags +loop -cmp chroma \
-partitions i8x8,i4x4,p8x8,b8x8 -me_method hex -subq 7 -me_range 16 -g 250 -keyint_min 25 \
-sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 -qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 -bf 3 -refs 3 \
-direct-pred spatial -trellis 1 -mixed-refs 1 -weightb 1 -8x8dct 1 -fast-pskip 1 -mbtree 1 -wpredp 2 \
-mbd rd -level 41 -c:a libmp3lame -ar 48000 -ac 2 -b:a 128k"

[ "${1:-}" = "--no-header" ] || table_header
for n in 1 2 4; do
  compare_jobs "Normal AVI (MPEG-4), $n job(s)" "$n" "$k_avi" "$f_avi" avi "$in"
done
for n in 1 2 4; do
  compare_jobs "Matroska Video (H.264), $n job(s)" "$n" "$k_mkv" "$f_mkv" mkv "$in"
done
