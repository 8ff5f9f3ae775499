#!/usr/bin/env bash
# Runs every libFuzzer target for FUZZ_SECONDS seconds (default 60) each. Inputs: the
# seeds written by lumet-fuzz-seeds, the corpus kept from earlier runs and the past
# findings in fuzz/regressions/<name>/. A finding (crash, sanitizer report, broken
# invariant, an input running over 10 s) is kept as build/fuzz/findings/<name>-*; the
# script runs every target and then fails if any found something.
# FUZZ_SEED fixes libFuzzer's random seed (CI sets one, so a finding there replays with the
# same seed here); unset or 0 draws a new one each run.
# Usage: scripts/fuzz.sh [BUILD_DIR]   (default build/fuzz, built by `make fuzz`)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
seed=${FUZZ_SEED:-0}
build=${1:-build/fuzz}
names=(bmp_reader param_file homography_file command_line still_reader video_reader)

"$build/bin/lumet-fuzz-seeds" "$build/seeds" >/dev/null || exit 1
# Clips of other codecs and containers, where the ffmpeg command is at hand.
if command -v ffmpeg >/dev/null 2>&1; then
  for clip in mpeg4.mp4 mjpeg.avi wrapped_avframe.y4m mpeg2video.ts; do
    [ -s "$build/seeds/video_reader/$clip" ] && continue
    ffmpeg -loglevel error -y -f lavfi -i testsrc=size=32x16:rate=5:duration=0.6 -c:v "${clip%%.*}" -pix_fmt yuv420p \
      "$build/seeds/video_reader/$clip" </dev/null || echo "no seed clip $clip (ffmpeg failed)"
  done
fi
mkdir -p "$build/findings"
found=()
for name in "${names[@]}"; do
  mkdir -p "$build/corpus/$name"
  log="$build/fuzz_$name.log"
  echo "fuzz_$name: ${seconds} s ..."
  "$build/bin/fuzz_$name" -max_total_time="$seconds" -seed="$seed" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$name-" \
    "$build/corpus/$name" "$build/seeds/$name" "fuzz/regressions/$name" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  corpus=$(ls "$build/corpus/$name" | wc -l)
  if [ $status -eq 0 ]; then
    echo "fuzz_$name: ${runs:-?} runs, nothing found (corpus $corpus inputs)"
  else
    echo "fuzz_$name: FOUND something after ${runs:-?} runs (exit $status); see $log and $build/findings/"
    grep -m 5 -E "ERROR|runtime error|invariant broken|Test unit written" "$log" | sed 's/^/  /'
    found+=("$name")
  fi
done
if [ ${#found[@]} -gt 0 ]; then
  echo "fuzzing found something in: ${found[*]}" >&2
  exit 1
fi
