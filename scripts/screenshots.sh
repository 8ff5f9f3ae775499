#!/usr/bin/env bash
# Pictures of the desktop application after a whole run (Show Reference, Registration,
# Reconstruction): the main window with the comparison split, the same window at 200 %
# scale and at 800 x 600, the dialog's controls, the reference frame with its ROI, the
# reference viewer (the reconstruction), the frame viewer (frame 0 on the result's grid
# against the result) and the A/B comparison of a classic and an enhanced run. Runs
# without a display on Qt's offscreen platform, with settings of its own.
#
#   scripts/screenshots.sh [BIN_DIR] [OUT_DIR]
#
# BIN_DIR holds lumet and lumet-cli (default build/release/bin); the pictures go to
# OUT_DIR (default build/screenshots): main-window.png, main-window-200.png,
# main-window-800x600.png, dialog.png, reference-roi.png, reference-viewer.png,
# frame-viewer.png, ab-comparison.png.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${1:-$root/build/release/bin}
out=${2:-$root/build/screenshots}
# The application is started from another folder, so both paths must be absolute.
bin=$(cd "$bin" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

for program in lumet lumet-cli; do
  if [ ! -x "$bin/$program" ]; then
    echo "screenshots: $bin/$program is missing (build it first)" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A short synthetic sequence with its param.txt: frames 0..4, the standard ROI.
"$bin/lumet-cli" synth "$work/sequence" --lr-count 4 >/dev/null

run() {  # run SCALE DIR: the window opened on the sequence, at that scale factor
  (cd "$work" && XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR="$1" \
    "$bin/lumet" --screenshots "$2" "$work/sequence")
}
run 1 "$out"
run 2 "$work/scaled"
cp "$work/scaled/main-window.png" "$out/main-window-200.png"

for picture in main-window main-window-200 main-window-800x600 dialog reference-roi reference-viewer frame-viewer \
  ab-comparison; do
  if [ ! -s "$out/$picture.png" ]; then
    echo "screenshots: $out/$picture.png was not written" >&2
    exit 1
  fi
  echo "$out/$picture.png"
done
