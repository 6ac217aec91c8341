#!/usr/bin/env bash
# Resume against a full conversion: a job stopped (SIGINT) when its output
# holds half of the full conversion's bytes is carried on with --resume; the
# figure is resume time / full time. Writes its section into RESULTS.md
# (before the Preview section, which preview.sh keeps last).
source "$(dirname "$0")/common.sh"
in=$(make_input resume_in.mp4 60 640x360)
rows=""
# timed CMD...: prints "wall_seconds cpu_seconds" (user + system) of CMD
timed() {
  local log; log=$(mktemp)
  /usr/bin/time -f "%e %U %S" -o "$log" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; cat "$log" >&2; }
  tail -n 1 "$log" | awk '{printf "%s %.2f\n", $1, $2 + $3}'; rm -f "$log"
}
# lower LIST...: the smaller of two numbers
lower() { awk -v a="$1" -v b="${2:-1e9}" 'BEGIN{print (a < b) ? a : b}'; }
for case in "Matroska Video|mkv" "MPEG-2 (*.mpg)|mpg" "Normal AVI (*.avi)|avi"; do
  profile="${case%|*}"; ext="${case#*|}"
  full="$work/resume_full.$ext"; out="$work/resume_out.$ext"; log="$work/resume.log"
  record() { echo "$(dirname "$1")/.$(basename "$1").korvane-resume"; }
  # one full conversion gives the stop's point; then full and resumed runs
  # take turns, so that both meet the shared machine in the same moods
  rm -f "$full"
  read -r best_full cpu_full < <(timed "$cli" convert "$in" -p "$profile" -o "$full" -q)
  half=$(( $(stat -c %s "$full") / 2 ))
  rm -f "$out" "$(record "$out")"
  "$cli" convert "$in" -p "$profile" -o "$out" -q & pid=$!
  while kill -0 $pid 2>/dev/null && [ "$(stat -c %s "$out" 2>/dev/null || echo 0)" -lt "$half" ]; do sleep 0.05; done
  kill -INT $pid; wait $pid || true
  cp "$out" "$work/resume_stopped.$ext"; cp "$(record "$out")" "$work/resume_stopped.$ext.record"
  best_resume=""; cpu_resume=""; at=""
  for run in 1 2 3; do
    cp "$work/resume_stopped.$ext" "$out"; cp "$work/resume_stopped.$ext.record" "$(record "$out")"
    rm -f "$log"
    read -r t c < <(timed "$cli" convert "$in" -p "$profile" -o "$out" -q --resume --log "$log")
    at=$(grep -o 'Resuming .* at [0-9:.]*' "$log" | sed 's/.* at //')
    best_resume=$(lower "$t" "$best_resume"); cpu_resume=$(lower "$c" "$cpu_resume")
    [ "$run" = 3 ] && break
    rm -f "$full"
    read -r t c < <(timed "$cli" convert "$in" -p "$profile" -o "$full" -q)
    best_full=$(lower "$t" "$best_full"); cpu_full=$(lower "$c" "$cpu_full")
  done
  frames_full=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$full" | tr -d ,)
  frames_out=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$out" | tr -d ,)
  ratio=$(awk -v r="$best_resume" -v f="$best_full" 'BEGIN{printf "%.2f", r / f}')
  cpu_ratio=$(awk -v r="$cpu_resume" -v f="$cpu_full" 'BEGIN{printf "%.2f", r / f}')
  rows+="| $profile | $at | $best_full | $best_resume | $ratio | $cpu_full | $cpu_resume | $cpu_ratio | $frames_full / $frames_out |"$'\n'
done
section=$(cat <<END
## Resume (bench/resume.sh)

- date: $(date -u '+%Y-%m-%d %H:%M UTC'), load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)
- source: 60 s 640x360 25 fps H.264 + AAC; the job is stopped (SIGINT) once its output holds half of
  the full conversion's bytes, then \`convert --resume\` carries it on. Best of three runs each, full and resumed runs taking turns.
  The rest starts at the last key picture before the stop (the "resumed at" column), so
  ratio = resume time / full time is about the share of the source converted again, plus the
  reading of the kept part and the join by stream copy. Goal: at most 0.60. The processor
  time (user + system) is given too: on a shared machine it varies less than the wall time.

| profile | resumed at | full s | resume s | ratio | full CPU s | resume CPU s | CPU ratio | video packets full / resumed |
|---|---:|---:|---:|---:|---:|---:|---:|---:|
${rows}
END
)
results="$here/RESULTS.md"
touch "$results"
# this section replaces an older one, before the Preview section (or at the end)
awk -v section="$section" '
  /^## Resume/ {skip = 1; next}
  /^## / && skip {skip = 0}
  /^## Preview$/ && !done {print section; print ""; done = 1}
  !skip {print}
  END {if (!done) {print ""; print section}}' "$results" > "$results.tmp"
mv "$results.tmp" "$results"
printf '%s\n' "$section"
