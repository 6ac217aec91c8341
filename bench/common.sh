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
# korvane-cli reads its configuration (threads per job: 0 = one per
# processor); keep the user's own settings out of the measurement
export XDG_CONFIG_HOME="$work/config"
cores=$(nproc)

# make_input NAME SECONDS SIZE: an H.264 + AAC clip
make_input() {
  local out="$work/$1"
  [ -f "$out" ] || ffmpeg -y -hide_banner -loglevel error -f lavfi -i "testsrc2=size=$3:rate=25:duration=$2" \
      -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$2" -ac 2 \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 128k "$out"
  echo "$out"
}

# copies_of FILE N: N links to FILE named in_1.EXT ... in_N.EXT (several
# sources for one korvane-cli run), printed one per line
copies_of() {
  local ext="${1##*.}" i
  for i in $(seq 1 "$2"); do
    ln -f "$1" "$work/in_$i.$ext"
    echo "$work/in_$i.$ext"
  done
}

# measure CMD...: prints "seconds maxrss_kb" after running CMD
measure() {
  local log; log=$(mktemp)
  /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; cat "$log" >&2; }
  tail -n 1 "$log"; rm -f "$log"
}

# measure_group "CMD1" "CMD2" ...: runs the commands at once, each under
# /usr/bin/time; prints "wall_seconds summed_peak_kb". The memory is the sum
# of each process's peak, since separate processes hold their memory together.
measure_group() {
  local dir start end i=0 c
  dir=$(mktemp -d)
  start=$(date +%s.%N)
  for c in "$@"; do
    ( /usr/bin/time -f "%e %M" -o "$dir/$i" bash -c "$c" >/dev/null 2>&1 || echo "FAILED: $c" >&2 ) &
    i=$((i + 1))
  done
  wait
  end=$(date +%s.%N)
  for f in "$dir"/*; do tail -n 1 "$f"; done | awk -v s="$start" -v e="$end" '{m += $2} END {printf "%.2f %d\n", e - s, m}'
  rm -rf "$dir"
}

# report NAME OURS_S THEIRS_S OURS_KB THEIRS_KB: one result line; the speed
# ratio is ffmpeg time / korvane time (>= 1.0: we are no slower), the memory
# ratio korvane peak / ffmpeg peak (<= 1.0: we use no more)
report() {
  awk -v n="$1" -v o="$2" -v t="$3" -v mo="$4" -v mt="$5" 'BEGIN{
    printf "| %-34s | %8.2f | %8.2f | %5.2f | %8d | %8d | %5.2f |\n", n, o, t, t/o, mo/1024, mt/1024, mo/mt }'
}

table_header() {
  echo "| case | korvane s | ffmpeg s | speed ratio | korvane MB | ffmpeg MB | memory ratio |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
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
  report "$name" "$best_o" "$best_t" "$mem_o" "$mem_t"
}

# compare_jobs NAME N "korvane-cli convert arguments after the sources"
#              "ffmpeg arguments after -i SOURCE and before the output" EXT
# korvane: one process converting N sources with -j N into a folder;
# ffmpeg: N processes at once. Each side runs twice; the best time is kept.
compare_jobs() {
  local name="$1" n="$2" kargs="$3" fargs="$4" ext="$5" input="$6"
  local sources out="$work/out_k" best_o=999999 best_t=999999 mem_o=0 mem_t=0 r i cmds
  sources=$(copies_of "$input" "$n" | sed "s/.*/'&'/" | tr '\n' ' ')
  for round in 1 2; do
    cmds=()
    for i in $(seq 1 "$n"); do
      cmds+=("ffmpeg -y -loglevel error -i '$work/in_$i.${input##*.}' $fargs '$work/f_$i.$ext'")
    done
    r=$(measure_group "${cmds[@]}"); set -- $r
    awk "BEGIN{exit !($1 < $best_t)}" && best_t=$1 && mem_t=$2
    rm -rf "$out"
    r=$(measure bash -c "'$cli' convert $sources -j $n -o '$out/' --quiet --overwrite $kargs"); set -- $r
    awk "BEGIN{exit !($1 < $best_o)}" && best_o=$1 && mem_o=$2
  done
  report "$name" "$best_o" "$best_t" "$mem_o" "$mem_t"
}
