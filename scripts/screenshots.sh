#!/usr/bin/env bash
# Pictures of the desktop application after a whole run (Show Reference, Registration LR
# Frames, Reconstruction): the main window with the comparison split, the same window at
# 200 % scale, the dialog's controls, the reference frame with its ROI, the reference viewer (the reconstruction) and the frame
# viewer (the comparison with the enlarged first frame). Runs without a display on Qt's
# offscreen platform, with settings of its own.
#
#   scripts/screenshots.sh [BIN_DIR] [OUT_DIR]
#
# BIN_DIR holds lumet and lumet-cli (default build/release/bin); the pictures go to
# OUT_DIR (default build/screenshots): main-window.png, main-window-200.png, dialog.png,
# reference-roi.png, reference-viewer.png, frame-viewer.png.
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

for picture in main-window main-window-200 dialog reference-roi reference-viewer frame-viewer; do
  if [ ! -s "$out/$picture.png" ]; then
    echo "screenshots: $out/$picture.png was not written" >&2
    exit 1
  fi
  echo "$out/$picture.png"
done
