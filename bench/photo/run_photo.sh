#!/usr/bin/env bash
# Bicubic, classic and enhanced (default PSF, and told the camera's blur) on clips made from
# a photo (bench/photo/photo_clip.py) by cameras from sharp to soft, each row one camera:
# the still of frame 0 from the clip's 20 frames, x2, ROI 20,20,120,80, PSNR against the
# truth, the PSF the enhanced method chose, and a montage of a crop of each row
# (truth | bicubic | classic | enhanced [| enhanced of OTHER_CLI]) into OUT/montage-*.png.
#   bench/photo/run_photo.sh PHOTO OUT [OTHER_CLI]
# CAMERAS="BLUR/NOISE ..." (default: 0/1 0/2 0/4 0.2/3 0.3/2 0.5/2) picks the cameras:
# the optics' Gaussian sigma in LR pixels on top of the pixel's box, and the noise sigma.
# SAMPLING=point makes the frames by blurring and decimating (each pixel the mean of the 2 x 2
# photo pixels at its centre, no pixel box; give blurs above 0 then, e.g. CAMERAS="0.3/2
# 0.4/2 0.6/2"). H264=CRF passes the frames through H.264 at that rate factor (bicubic then
# enlarges the decoded frame 0). The photo must be at least 676 x 468 pixels.
set -euo pipefail
photo=$1
out=$2
other=${3:-}
here=$(cd "$(dirname "$0")/../.." && pwd)
cli=${CLI:-$here/build/release/bin/lumet-cli}
export PYTHONPATH=$here/build/release/python
python=${PYTHON:-/usr/bin/python3}
mkdir -p "$out"
out=$(cd "$out" && pwd)
printf '%-10s %8s %8s %8s %8s %8s %6s\n' camera bicubic classic enhanced told other psf
for camera in ${CAMERAS:-0/1 0/2 0/4 0.2/3 0.3/2 0.5/2}; do
  blur=${camera%/*}
  noise=${camera#*/}
  sampling=${SAMPLING:-box}
  name=$sampling-b$blur-n$noise${H264:+-crf$H264}
  clip=$out/$name
  [ -d "$clip/images" ] || "$python" "$here/bench/photo/photo_clip.py" "$photo" "$clip" --blur "$blur" --noise "$noise" \
    --sampling "$sampling" ${H264:+--h264 "$H264"}
  # The pixel's own share of the blur: its square (1/12 LR px^2), or half its side (1/48).
  box=$([ "$sampling" = box ] && echo 12 || echo 48)
  told=$(awk -v b="$blur" -v box="$box" 'BEGIN { printf "%.3f", sqrt(b * b + 1 / box) }')
  score() { "$cli" compare "$1" "$clip/truth/truth-0.bmp" | awk '{ print $3; exit }'; }
  row=("$(score "$clip/bicubic/bicubic-0.bmp")")
  images=("$clip/truth/truth-0.bmp" "$clip/bicubic/bicubic-0.bmp")
  psf=-
  for m in classic enhanced told other; do
    bin=$cli
    args=(--method enhanced)
    case $m in
      classic) args=(--method classic) ;;
      told) args+=(--psf-sigma "$told" --psf-check off) ;;
      other) [ -n "$other" ] || { row+=(-); continue; }; bin=$other ;;
    esac
    w=$clip/$m
    rm -rf "$w"
    mkdir -p "$w"
    "$bin" -C "$w" run --lr-pattern "$clip/images/lr-%d.bmp" --lr-count 19 --roi 20,20,120,80 --scale 2 "${args[@]}" > "$w/log" 2>&1
    row+=("$(score "$w/result/hr.bmp")")
    [ $m = told ] || images+=("$w/result/hr.bmp")
    [ $m = enhanced ] && psf=$(sed -n 's/^PSF = \([0-9.]*\).*/\1/p' "$w/log")
  done
  printf '%-10s %8s %8s %8s %8s %8s %6s\n' "$camera" "${row[@]}" "${psf:--}"
  "$python" - "$out/montage-$name.png" "${images[@]}" <<'PY'
import sys
import numpy, lumet
out, paths = sys.argv[1], sys.argv[2:]
tiles = []
for p in paths:
    crop = lumet.read_frames(p)[0][40:120, 60:180]  # a crop of the 240 x 160 results, x3
    tiles += [numpy.repeat(numpy.repeat(crop, 3, 0), 3, 1), numpy.full((240, 6, 3), 255, numpy.uint8)]
lumet.write_image(out, numpy.concatenate(tiles[:-1], 1))
PY
done
echo "montages (truth | bicubic | classic | enhanced [| other]): $out/montage-*.png"
