#!/usr/bin/env bash
# Whole-frame jobs at two frame sizes in one run: does the time per HR pixel stay flat, and
# how many bytes per HR pixel does the peak take?
#
# usage: bench/scale.sh [BIN_DIR]
#   BIN_DIR   folder with lumet-cli (default build/release/bin)
# environment: WORK (scratch folder), METHOD (classic or enhanced; default classic),
#   SIZES (default "320x240 1280x720"), FRAMES (default 30), SCALE (default 4)
#
# For each size a FRAMES + 1 frame synthetic sequence is made with `lumet-cli synth` and
# registered over its whole frame (a 16-pixel margin kept); then the reconstruction of that
# ROI is timed with /usr/bin/time. Printed per size: the HR grid, reconstruction seconds,
# peak RSS, microseconds and bytes per HR pixel; then the ratio of the time per HR pixel of
# each size to that of the first, in wall time and in processor time (user + system, which
# other processes on a shared machine move far less). The HD job takes minutes on two cores.
set -euo pipefail

BIN=$(readlink -f "${1:-build/release/bin}")
WORK=${WORK:-$(mktemp -d /tmp/lumet-scale.XXXXXX)}
METHOD=${METHOD:-classic}
SIZES=${SIZES:-"320x240 1280x720"}
FRAMES=${FRAMES:-30}
SCALE=${SCALE:-4}
MARGIN=16

for tool in "$BIN/lumet-cli" /usr/bin/time; do
  [[ -x "$tool" ]] || { echo "scale.sh: $tool is missing (build first: make build)" >&2; exit 1; }
done

echo "== whole-frame $METHOD reconstruction at x$SCALE, $FRAMES frames: $BIN/lumet-cli"
printf "%-10s %-12s %10s %10s %12s %12s %8s %10s\n" frames "HR grid" "time (s)" "RSS (MB)" "us/HR px" "bytes/HR px" ratio "cpu ratio"
base=""
cpuBase=""
for size in $SIZES; do
  IFS=x read -r width height <<<"$size"
  seq="$WORK/$size"
  rm -rf "$seq"
  "$BIN/lumet-cli" synth "$seq" --size "$size" --lr-count "$FRAMES" --scale "$SCALE" >/dev/null
  roi="$MARGIN,$MARGIN,$((width - 2 * MARGIN)),$((height - 2 * MARGIN))"
  "$BIN/lumet-cli" -C "$seq" register --roi "$roi" --method "$METHOD" >/dev/null
  out=$( { /usr/bin/time -f "%e %M %U %S" "$BIN/lumet-cli" -C "$seq" reconstruct --roi "$roi" --method "$METHOD" \
           --memory-limit 100G >/dev/null; } 2>&1 | tail -1)
  read -r secs kb user sys <<<"$out"
  pixels=$(( (width - 2 * MARGIN) * SCALE * (height - 2 * MARGIN) * SCALE ))
  per=$(awk -v s="$secs" -v p="$pixels" 'BEGIN { printf "%.3f", s * 1e6 / p }')
  cpuPer=$(awk -v u="$user" -v s="$sys" -v p="$pixels" 'BEGIN { printf "%.3f", (u + s) * 1e6 / p }')
  [[ -z "$base" ]] && base=$per
  [[ -z "$cpuBase" ]] && cpuBase=$cpuPer
  printf "%-10s %-12s %10.1f %10.1f %12s %12.1f %7.2fx %9.2fx\n" "$size" "$(( (width - 2 * MARGIN) * SCALE ))x$(( (height - 2 * MARGIN) * SCALE ))" \
    "$secs" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$per" "$(awk -v k="$kb" -v p="$pixels" 'BEGIN { print k * 1024 / p }')" \
    "$(awk -v a="$per" -v b="$base" 'BEGIN { print a / b }')" "$(awk -v a="$cpuPer" -v b="$cpuBase" 'BEGIN { print a / b }')"
done
echo "targets (classic): bytes/HR px <= 50 for 1280x720, ratio <= 1.15"
