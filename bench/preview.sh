#!/usr/bin/env bash
# The preview's decoding source on a 1080p30 H.264 clip: decode + filter +
# BGRA throughput against the ffmpeg tool decoding the same clip through the
# same filter into the null muxer, and the latency of exact seeks to random
# positions. Writes the "Preview" section of bench/RESULTS.md.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
work="$here/work"
mkdir -p "$work"
bench="${KORVANE_PREVIEW_BENCH:-$root/build/tests/korvane_preview_bench}"
[ -x "$bench" ] || { echo "build korvane_preview_bench first (cmake --build build --target korvane_preview_bench)"; exit 1; }
clip="$work/preview_1080p30.mp4"
# 20 s, keyframes every 2 s (60 pictures), B-frames: what cameras and web video carry
[ -f "$clip" ] || ffmpeg -y -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=20" \
    -c:v libx264 -preset veryfast -g 60 -pix_fmt yuv420p "$clip"
seconds=20

wall() { # wall CMD...: the wall seconds of one run
  local log; log=$(mktemp)
  /usr/bin/time -f "%e" -o "$log" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; }
  tail -n 1 "$log"; rm -f "$log"
}

best_of() { # best_of N CMD...: the shortest wall time of N runs
  local best="" t i
  for i in $(seq 1 "$1"); do
    t=$(wall "${@:2}")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}

rows=""
for filter in "hflip" "drawbox=100:100:400:300:red" "rotate=90"; do
  # the tool's equivalent of the stored element
  case "$filter" in
    rotate=90) tool="transpose=1" ;;
    drawbox=*) tool="drawbox=x=100:y=100:w=400:h=300:color=red" ;;
    *) tool="$filter" ;;
  esac
  ours=$(best_of 2 "$bench" throughput "$clip" "$filter")
  theirs=$(best_of 2 ffmpeg -v error -i "$clip" -vf "$tool" -f null -)
  # the tool also turning each picture into BGRA, as the preview must
  theirs_bgra=$(best_of 2 ffmpeg -v error -i "$clip" -vf "$tool,format=bgra" -f null -)
  rows+=$(printf '| %-28s | %8.2f | %8.2f | %5.2f | %8.2f | %5.2f | %6.1f |' "$filter" "$ours" "$theirs" \
      "$(awk "BEGIN{print $theirs/$ours}")" "$theirs_bgra" "$(awk "BEGIN{print $theirs_bgra/$ours}")" \
      "$(awk "BEGIN{print $seconds/$ours}")")$'\n'
done
seek=$("$bench" seek "$clip" 40)
# the tool's own exact seek, process start included, for scale
tool_seek=()
for t in 3.3 7.1 11.9 15.4 18.6; do
  tool_seek+=("$(wall ffmpeg -v error -ss "$t" -i "$clip" -frames:v 1 -f null -)")
done
tool_median=$(printf '%s\n' "${tool_seek[@]}" | sort -n | sed -n 3p)

section=$(cat <<END
## Preview

- date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)
- clip: 20 s 1920x1080 30 fps H.264 (High, keyframes every 2 s, B-frames), no sound
- throughput: every picture through the filter into 32-bit BGRA (korvane_preview_bench), against
  \`ffmpeg -i CLIP -vf FILTER -f null -\`; best of two runs. Ratio = ffmpeg time / preview time;
  real time = 20 s / preview time.

| filter (stored syntax) | preview s | ffmpeg s | ratio | ffmpeg + BGRA s | ratio | x real time |
|---|---:|---:|---:|---:|---:|---:|
${rows}
- exact seek to 40 random positions (request to the picture at or after the time):
  median / 90th percentile / worst $(echo "$seek" | awk '{printf "%s / %s / %s ms", $1, $2, $3}').
  For scale, \`ffmpeg -ss T -i CLIP -frames:v 1 -f null -\` (process start included) takes a
  median of $(awk "BEGIN{printf \"%d\", $tool_median*1000}") ms for the same kind of seek.
END
)
results="$here/RESULTS.md"
touch "$results"
# keep everything before an older Preview section (and one blank line), then this one
awk '/^## Preview$/{exit} {lines[n++] = $0} END {while (n > 0 && lines[n-1] == "") n--; for (i = 0; i < n; i++) print lines[i]; print ""}' \
    "$results" > "$results.tmp"
printf '%s\n' "$section" >> "$results.tmp"
[ -f "$here/PREVIEW-NOTES.md" ] && { echo; cat "$here/PREVIEW-NOTES.md"; } >> "$results.tmp"
mv "$results.tmp" "$results"
printf '%s\n' "$section"
