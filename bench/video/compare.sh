#!/usr/bin/env bash
# lumet-cli video beside bicubic and the BTV-L1 peer (lumet-btvl1-peer, built where Debian's
# libopencv-superres-dev is installed) on two synthetic 160 x 120 clips with the truth of
# every frame: a camera drifting over a texture, and the same with an object moving on its
# own. x2, a window of 2 * RADIUS + 1 frames, ROI 20,20,120,80. Prints, per clip and method,
# the mean PSNR against the truth, the flicker (RMS change of the error from frame to frame,
# grey levels), the PSNR inside the moving object and the wall time per frame, and writes a
# montage of one frame (truth | bicubic | peer | classic | enhanced) into OUT.
#   bench/video/compare.sh OUT [FRAMES [RADIUS]]
# PSF: the clips' pixels are box means (Gaussian sigma about 0.3 LR px); "enhanced-told" is
# told so, "enhanced" runs with the default PSF, as a new user would. BLUR=SIGMA and
# NOISE=SIGMA make the camera blur (LR px, on top of the box) and add noise (grey levels);
# "enhanced-told" is then told the whole blur, sqrt(BLUR^2 + 1/12).
set -euo pipefail
out=$1
frames=${2:-20}
radius=${3:-2}
here=$(cd "$(dirname "$0")/../.." && pwd)
bin=${BIN:-$here/build/release/bin}
cli=$bin/lumet-cli
clip=$bin/lumet-drifting-clip
peer=$bin/lumet-btvl1-peer
roi=20,20,120,80
mkdir -p "$out"

seconds() { date +%s.%N; }
per_frame() { echo "$1 $2 $frames" | awk '{printf "%.2f", ($2 - $1) / $3}'; }
score() { "$clip" --score "$1" "$2"; }

told=$(awk -v b="${BLUR:-0}" 'BEGIN { s = sqrt(b * b + 1 / 12); printf "%.2f", s < 0.3 ? 0.3 : s }')
printf '%-9s %-13s %8s %8s %8s %8s\n' clip method PSNR flicker object s/frame
for kind in drift object; do
  d=$out/$kind
  if [ ! -d "$d/images" ]; then
    mkdir -p "$d/images" "$d/truth" "$d/bicubic"
    camera=(--blur "${BLUR:-0}" --noise "${NOISE:-0}")
    if [ $kind = object ]; then "$clip" "$d" "$frames" --moving-object "${camera[@]}"; else "$clip" "$d" "$frames" "${camera[@]}"; fi
  fi
  runs=(bicubic)
  [ -x "$peer" ] && runs+=(peer)
  runs+=(classic enhanced enhanced-told)
  for m in "${runs[@]}"; do
    pattern=$d/$m/sr-%d.bmp
    t=-
    if [ $m = bicubic ]; then
      pattern=$d/bicubic/bicubic-%d.bmp
    else
      rm -rf "${d:?}/$m"
      mkdir -p "$d/$m"
      start=$(seconds)
      case $m in
        peer) "$peer" "$d/images/lr-%d.bmp" "$frames" "$pattern" 2 "$radius" $roi > /dev/null ;;
        classic) (cd "$d" && "$cli" video -q --scale 2 --radius "$radius" --roi $roi images/lr-%d.bmp "$m/sr-%d.bmp" 2> /dev/null) ;;
        enhanced) (cd "$d" && "$cli" video -q --scale 2 --radius "$radius" --roi $roi --method enhanced images/lr-%d.bmp "$m/sr-%d.bmp" 2> /dev/null) ;;
        enhanced-told) (cd "$d" && "$cli" video -q --scale 2 --radius "$radius" --roi $roi --method enhanced --psf-sigma "$told" --psf-check off images/lr-%d.bmp "$m/sr-%d.bmp" 2> /dev/null) ;;
      esac
      t=$(per_frame "$start" "$(seconds)")
    fi
    s=$(score "$d" "$pattern")
    psnr=$(sed -n 's/^mean over .*: \([0-9.]*\) dB, bicubic.*/\1/p' <<< "$s")
    flicker=$(sed -n 's/^flicker: \([0-9.]*\) grey.*/\1/p' <<< "$s")
    object=$(sed -n 's/^inside the moving object: \([0-9.]*\) dB.*/\1/p' <<< "$s")
    printf '%-9s %-13s %8s %8s %8s %8s\n' $kind $m "$psnr" "$flicker" "${object:--}" "$t"
  done
done
if command -v python3 > /dev/null && PYTHONPATH=$here/build/release/python /usr/bin/python3 -c 'import lumet, numpy' 2> /dev/null; then
  PYTHONPATH=$here/build/release/python /usr/bin/python3 - "$out" "$frames" <<'PY'
import os, sys
import numpy, lumet
out = sys.argv[1]
# Frame 10, or the middle one of a shorter clip.
k = min(10, int(sys.argv[2]) // 2)
for kind in ("drift", "object"):
    d = os.path.join(out, kind)
    tiles = [os.path.join(d, "truth", f"truth-{k}.bmp"), os.path.join(d, "bicubic", f"bicubic-{k}.bmp")]
    tiles += [os.path.join(d, m, f"sr-{k}.bmp") for m in ("peer", "classic", "enhanced", "enhanced-told")]
    images = [lumet.read_frames(t)[0] for t in tiles if os.path.exists(t)]
    montage = numpy.concatenate(images, axis=1)
    lumet.write_image(os.path.join(out, f"montage-{kind}.png"), numpy.ascontiguousarray(montage.repeat(2, 0).repeat(2, 1)))
PY
  echo "montages (truth | bicubic | peer | classic | enhanced | enhanced told the blur, frame $((frames < 20 ? frames / 2 : 10))): $out/montage-*.png"
fi
