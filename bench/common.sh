# Shared helpers of the benchmark scripts: inputs generated once into
# bench/work, timing by /usr/bin/time (wall seconds and peak memory).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
work="$here/work"
mkdir -p "$work"
cli="${KORVANE_CLI:-$root/build/src/cli/korvane-cli}"
[ -x "$cli" ] || { echo "build korvane-cli first (scripts/run.sh)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)"; exit 1; }

# make_input NAME SECONDS SIZE: an H.264 + AAC clip
make_input() {
  local out="$work/$1"
  [ -f "$out" ] || ffmpeg -y -hide_banner -loglevel error -f lavfi -i "testsrc2=size=$3:rate=25:duration=$2" \
      -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$2" -ac 2 \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k "$out"
  echo "$out"
}

# measure LABEL CMD...: prints "seconds maxrss_kb" after running CMD
measure() {
  local log; log=$(mktemp)
  /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; cat "$log" >&2; }
  cat "$log"; rm -f "$log"
}

# compare NAME "ours..." "theirs...": runs each twice, keeps the best time
compare() {
  local name="$1" ours="$2" theirs="$3" best_o=999999 best_t=999999 mem_o=0 mem_t=0 r
  for i in 1 2; do
    r=$(measure bash -c "$theirs"); set -- $r
    awk "BEGIN{exit !($1 < $best_t)}" && best_t=$1 && mem_t=$2
    r=$(measure bash -c "$ours"); set -- $r
    awk "BEGIN{exit !($1 < $best_o)}" && best_o=$1 && mem_o=$2
  done
  awk -v n="$name" -v o="$best_o" -v t="$best_t" -v mo="$mem_o" -v mt="$mem_t" 'BEGIN{
    printf "%-32s korvane %7.2fs  ffmpeg %7.2fs  speed ratio %5.2f  memory ratio %5.2f\n", n, o, t, t/o, mo/mt }'
}
