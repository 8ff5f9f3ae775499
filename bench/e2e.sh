#!/usr/bin/env bash
# End-to-end timing of lumet-cli on the three workloads, against the machine's own limits.
#
# usage: bench/e2e.sh [BIN_DIR] [BEFORE_CLI]
#   BIN_DIR     folder with lumet-cli and lumet-fma-peak (default build/release/bin)
#   BEFORE_CLI  optional second lumet-cli (for example one built from main) timed the same way
# environment: REPEAT (runs per workload, best kept; default 3), WORK (scratch folder)
#
# A 31-frame 320 x 240 synthetic sequence is made with `lumet-cli synth`; the one-core FMA
# peak is measured in the same run (best of three loops) and doubled for the two cores. Each
# workload's convolution ceiling is 600 passes of the 17 x 17 PSF over its HR grid at 2
# flops a tap at that peak. Printed per workload: wall time, peak RSS, and time / ceiling;
# then the default job with one core kept busy by a spinning child, as a multiple of its
# idle time; then the enhanced method's time per iteration against its own floor (lumet-bench).
set -euo pipefail

BIN=$(readlink -f "${1:-build/release/bin}")
BEFORE=${2:-}
[[ -n "$BEFORE" ]] && BEFORE=$(readlink -f "$BEFORE")
REPEAT=${REPEAT:-3}
WORK=${WORK:-$(mktemp -d /tmp/lumet-e2e.XXXXXX)}
CORES=2

for tool in "$BIN/lumet-cli" "$BIN/lumet-fma-peak" /usr/bin/time; do
  [[ -x "$tool" ]] || { echo "e2e.sh: $tool is missing (build first: make build)" >&2; exit 1; }
done

SEQ="$WORK/seq"
rm -rf "$SEQ"
"$BIN/lumet-cli" synth "$SEQ" --lr-count 30 >/dev/null
"$BIN/lumet-cli" -C "$SEQ" init-params >/dev/null

read -r PEAK1 ISA _ < <("$BIN/lumet-fma-peak")
PEAK=$(awk -v p="$PEAK1" -v c="$CORES" 'BEGIN { printf "%.2f", p * c }')
echo "FMA peak: $PEAK1 GFLOP/s per core ($ISA), ceiling taken at $PEAK GFLOP/s for $CORES cores"

# name roi(x,y,w,h) scale
WORKLOADS=(
  "default 160,100,40,40 4"
  "peer 130,70,100,100 4"
  "whole-frame 10,10,300,220 4"
)

# Runs one job REPEAT times; prints "best_seconds peak_rss_kb".
time_job() {
  local cli=$1 roi=$2 scale=$3 best="" rss=0 out
  for ((i = 0; i < REPEAT; ++i)); do
    out=$( { /usr/bin/time -f "%e %M" "$cli" -C "$SEQ" run --lr-count 30 --roi "$roi" --scale "$scale" >/dev/null; } 2>&1 | tail -1)
    read -r secs kb <<<"$out"
    if [[ -z "$best" ]] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$secs; fi
    ((kb > rss)) && rss=$kb
  done
  echo "$best $rss"
}

ceiling() {  # roi scale -> seconds
  local w h
  IFS=, read -r _ _ w h <<<"$1"
  awk -v w="$w" -v h="$h" -v s="$2" -v p="$PEAK" 'BEGIN { g = w * s; k = h * s; printf "%.4f", 600 * g * k * 289 * 2 / (p * 1e9) }'
}

report() {  # label cli
  local label=$1 cli=$2
  echo
  echo "== $label: $cli"
  printf "%-12s %-18s %9s %9s %9s %10s\n" workload roi "time (s)" "RSS (MB)" "ceil (s)" "time/ceil"
  for w in "${WORKLOADS[@]}"; do
    read -r name roi scale <<<"$w"
    read -r secs kb < <(time_job "$cli" "$roi" "$scale")
    c=$(ceiling "$roi" "$scale")
    printf "%-12s %-18s %9.2f %9.1f %9.3f %9.1fx\n" "$name" "$roi" "$secs" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$c" \
      "$(awk -v a="$secs" -v b="$c" 'BEGIN { print a / b }')"
    [[ $name == default ]] && IDLE=$secs
  done
  # One core taken by another process.
  bash -c 'while :; do :; done' &
  local spinner=$!
  read -r busy _ < <(time_job "$cli" "160,100,40,40" 4)
  kill "$spinner"
  wait "$spinner" 2>/dev/null || true
  printf "%-12s %-18s %9.2f %29s %9.2fx idle\n" "default+busy" "160,100,40,40" "$busy" "" \
    "$(awk -v a="$busy" -v b="$IDLE" 'BEGIN { print a / b }')"
}

[[ -n "$BEFORE" ]] && report before "$BEFORE"
report after "$BIN/lumet-cli"
echo
echo "targets: default <= 5x, peer <= 4x, whole-frame <= 4x and <= 250 MB, busy <= 2.5x idle"

# The enhanced method: one quasi-Newton iteration of each workload's grid on the $CORES cores
# (lumet-bench BM_EnhancedIteration, whose comment counts the floor: the multiply-adds of an
# iteration as implemented), against that floor at the same (double-precision) FMA peak, and
# in parentheses against the floor with the single-precision backend's float parts at twice it.
if [[ -x "$BIN/lumet-bench" ]]; then
  echo
  echo "== enhanced, one iteration (green band, 30 frames): $BIN/lumet-bench"
  printf "%-12s %-26s %12s %14s %10s %10s %12s\n" workload grid "ms/iter" "madds/sample" "floor ms" "iter/floor" \
    "(f32 floor)"
  LUMET_FMA_PEAK=$PEAK1 "$BIN/lumet-bench" --benchmark_filter="BM_EnhancedIteration/[0-9]/$CORES/" \
    --benchmark_format=csv 2>/dev/null | awk -F, -v names="default peer whole-frame video-x2" '
    BEGIN { split(names, name, " ") }
    NR == 1 { for (i = 1; i <= NF; ++i) { key = $i; gsub(/"/, "", key); col[key] = i }; next }
    {
      split($1, part, "/"); job = part[2] + 1
      label = $col["label"]; gsub(/"/, "", label); sub(/; .*/, "", label)
      ms = $col["ms_per_iteration"]; x = $col["x_floor"]
      single = ("x_floor_single" in col && $col["x_floor_single"] != "") ? sprintf("%11.1fx", $col["x_floor_single"]) : "-"
      printf "%-12s %-26s %12.2f %14.1f %10.3f %9.1fx %12s\n", name[job], label, ms, $col["madds_per_sample"], ms / x, x, single
    }'
fi
