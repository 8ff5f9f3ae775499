#!/usr/bin/env bash
# Camera raw frames end to end on real sensor data: a DNG burst made from the Kodak C330 raw
# file that Debian's kimageformats source package ships as a test image (fetched from the
# Debian archive and checked against the package's checksum), or from RAW when given, run
# through classic and enhanced at SCALE and measured against the truth beside bicubic of
# frame 0 (lumet-raw-burst says how the burst is made). Writes OUT/montage.png (truth |
# bicubic | classic | enhanced, shown through a 2.2 gamma: the results of linear frames are
# linear). KIND=png writes the frames without the mosaic, as 16-bit PNG files: what the
# mosaic and its demosaicing cost.
#   bench/raw/run_raw.sh OUT [RAW [FRAMES [SCALE [X,Y,W,H]]]]
set -euo pipefail
out=$1
raw=${2:-}
frames=${3:-12}
scale=${4:-2}
# The lower card of the photo, whose lettering is the finest detail in it.
case $scale in 2) card=120,115,90,70 ;; 3) card=80,78,60,48 ;; *) card=60,58,45,36 ;; esac
roi=${5:-$card}
kind=${KIND:-dng}
here=$(cd "$(dirname "$0")/../.." && pwd)
bin=$here/build/release/bin
cli=${CLI:-$bin/lumet-cli}
mkdir -p "$out"
if [ -z "$raw" ]; then
  tarball=kimageformats_5.103.0.orig.tar.xz
  sum=dd7dc417aacc9dfe74745e4dfd9750129051c36502fa1cd18b92c4035d721e7e
  member=kimageformats-5.103.0/autotests/read/raw/RAW_KODAK_C330_FORMAT_NONE_YRGB.raw
  raw=$out/kodak-c330.raw
  if [ ! -f "$raw" ]; then
    [ -f "$out/$tarball" ] || curl -sSfL -o "$out/$tarball" "https://deb.debian.org/debian/pool/main/k/kimageformats/$tarball"
    echo "$sum  $out/$tarball" | sha256sum -c --quiet
    tar -xJf "$out/$tarball" -O "$member" > "$raw"
  fi
fi
burst=$out/burst
rm -rf "$burst"
"$bin/lumet-raw-burst" "$raw" "$burst" "$frames" "$scale" "$roi" "$kind"
printf '%-9s %8s %8s\n' method psnr seconds
for m in classic enhanced; do
  d=$burst/run-$m
  mkdir -p "$d"
  start=$(date +%s.%N)
  "$cli" -C "$d" run --method $m --lr-pattern "$burst/images/lr-%d.$kind" --lr-count auto --roi "$roi" --scale "$scale" \
    > "$d/log" 2> "$d/err"
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  printf '%-9s %8s %8.2f\n' $m "$("$cli" compare "$d/result/hr.bmp" "$burst/truth/hr.bmp" | awk '{print $3; exit}')" "$seconds"
done
printf '%-9s %8s\n' bicubic "$("$cli" compare "$burst/truth/bicubic.bmp" "$burst/truth/hr.bmp" | awk '{print $3; exit}')"
PYTHONPATH=$here/build/release/python /usr/bin/python3 -c '
import sys, numpy, lumet
row = numpy.concatenate([(lumet.read_frames(p)[0] / 255.0) ** (1 / 2.2) for p in sys.argv[2:]], axis=1)
lumet.write_image(sys.argv[1], numpy.ascontiguousarray((row * 255 + 0.5).clip(0, 255).astype(numpy.uint8).repeat(2, 0).repeat(2, 1)))' \
  "$out/montage.png" "$burst/truth/hr.bmp" "$burst/truth/bicubic.bmp" "$burst/run-classic/result/hr.bmp" \
  "$burst/run-enhanced/result/hr.bmp" || echo "no montage" >&2
