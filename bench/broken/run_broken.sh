#!/usr/bin/env bash
# Measures bicubic, classic and enhanced on sequences with one broken assumption each
# (lumet-broken-sequence) plus an H.264-compressed one, and writes a montage per sequence
# (truth | bicubic | classic | enhanced [| enhanced of OTHER]) into OUT/montage-*.png.
#   bench/broken/run_broken.sh OUT [SCENE [SEED [OTHER_CLI]]]
# OTHER_CLI, when given, is a second lumet-cli (e.g. an earlier build) whose enhanced
# result is shown and measured beside this one's.
set -euo pipefail
out=$1
scene=${2:-texture}
seed=${3:-3}
other=${4:-}
here=$(cd "$(dirname "$0")/../.." && pwd)
cli=${CLI:-$here/build/release/bin/lumet-cli}
gen=$here/build/release/bin/lumet-broken-sequence
kinds=${KINDS:-"object h264 pan psf gain wobble ideal"}
mkdir -p "$out"
printf '%-8s %8s %8s %8s %8s %8s %8s\n' kind bicubic classic enhanced other t_cl t_enh
for kind in $kinds; do
  seq=$out/$scene-$seed-$kind
  if [ ! -d "$seq/images" ]; then
    if [ "$kind" = h264 ]; then
      "$gen" ideal "$scene" "$seed" "$seq"
      if command -v ffmpeg > /dev/null; then
        ffmpeg -loglevel error -y -i "$seq/images/lr-%d.bmp" -c:v libx264 -crf 26 -pix_fmt yuv420p "$seq/clip.mp4"
        ffmpeg -loglevel error -y -i "$seq/clip.mp4" -start_number 0 -pix_fmt bgr24 "$seq/images/lr-%d.bmp"
        # The baseline a user has: bicubic of the compressed frame 0, not of the clean one.
        "$gen" bicubic "$seq"
      else
        # The engine's own encoder (libx264 at the same rate factor); it remakes the baseline.
        "$gen" h264 "$seq" 26
      fi
    else
      "$gen" "$kind" "$scene" "$seed" "$seq"
    fi
  fi
  row=()
  times=()
  for m in classic enhanced other; do
    bin=$cli method=$m
    if [ $m = other ]; then
      [ -n "$other" ] || { row+=(-); continue; }
      bin=$other method=enhanced
    fi
    d=$seq/run-$m
    rm -rf "$d" && mkdir -p "$d" && cp "$seq/param.txt" "$d/"
    start=$(date +%s.%N)
    "$bin" -C "$d" run --method $method --lr-pattern "$seq/images/lr-%d.bmp" > "$d/log" 2> "$d/err" || true
    times+=($(echo "$(date +%s.%N) - $start" | bc))
    row+=($("$cli" compare "$d/result/hr.bmp" "$seq/truth/hr.bmp" | awk '{print $3; exit}'))
  done
  b=$("$cli" compare "$seq/truth/bicubic.bmp" "$seq/truth/hr.bmp" | awk '{print $3; exit}')
  printf '%-8s %8s %8s %8s %8s %8.2f %8.2f\n' "$kind" "$b" "${row[0]}" "${row[1]}" "${row[2]}" "${times[0]}" "${times[1]}"
  pics=("$seq/truth/hr.bmp" "$seq/truth/bicubic.bmp" "$seq/run-classic/result/hr.bmp" "$seq/run-enhanced/result/hr.bmp")
  [ -n "$other" ] && pics+=("$seq/run-other/result/hr.bmp")
  if command -v montage > /dev/null; then
    montage "${pics[@]}" -tile x1 -geometry +2+2 -filter point -resize 200% "$out/montage-$scene-$seed-$kind.png"
  else
    # Without ImageMagick: the same row through the engine's own reader and writer.
    PYTHONPATH=$here/build/release/python /usr/bin/python3 -c '
import sys, numpy, lumet
row = numpy.concatenate([lumet.read_frames(p)[0] for p in sys.argv[2:]], axis=1)
lumet.write_image(sys.argv[1], numpy.ascontiguousarray(row.repeat(2, 0).repeat(2, 1)))' \
      "$out/montage-$scene-$seed-$kind.png" "${pics[@]}" || echo "no montage for $kind" >&2
  fi
done
