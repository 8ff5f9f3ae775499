#!/usr/bin/env bash
# Pictures of the desktop application after a whole run (Show Reference, Registration,
# Reconstruction): the main window with the comparison split, the same window at 200 %
# scale and at 800 x 600, the dialog's controls, the reference frame with its ROI, the
# reference viewer (frame 0 on the result's grid against the result), the frame viewer
# (frame 0 again) and the A/B comparison of a classic and an enhanced run; and the
# window filling a 1024 x 768 screen and a 1920 x 1080 screen at 200 %, comparing a x4
# and a x2 run (wipe, side by side, difference). Runs without a display on Qt's
# offscreen platform, with settings of its own.
#
#   scripts/screenshots.sh [BIN_DIR] [OUT_DIR]
#
# BIN_DIR holds lumet and lumet-cli (default build/release/bin); the pictures go to
# OUT_DIR (default build/screenshots): main-window.png, main-window-200.png,
# main-window-800x600.png, dialog.png, reference-roi.png, reference-viewer.png,
# frame-viewer.png, ab-comparison.png, comparison-1024x768.png,
# comparison-side-by-side-1024x768.png, comparison-difference-1024x768.png,
# comparison-1920x1080-200.png, comparison-side-by-side-1920x1080-200.png,
# comparison-difference-1920x1080-200.png.
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

run() {  # run SCALE DIR [PLATFORM]: the window opened on a fresh copy of the sequence
  rm -rf "$work/run" && cp -r "$work/sequence" "$work/run"
  (cd "$work" && XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM="${3:-offscreen}" QT_SCALE_FACTOR="$1" \
    "$bin/lumet" --screenshots "$2" "$work/run")
}
screen() {  # screen NAME WIDTH HEIGHT DPR: an offscreen platform with that one screen
  printf '{ "screens": [ { "name": "%s", "x": 0, "y": 0, "width": %d, "height": %d, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": %s } ] }\n' \
    "$1" "$2" "$3" "$4" >"$work/$1.json"
  echo "offscreen:configfile=$work/$1.json"
}
run 1 "$work/plain"
for picture in main-window main-window-800x600 dialog reference-roi reference-viewer frame-viewer ab-comparison; do
  cp "$work/plain/$picture.png" "$out/" 2>/dev/null || true
done
run 2 "$work/scaled"
cp "$work/scaled/main-window.png" "$out/main-window-200.png"
run 1 "$work/small" "$(screen small 1024 768 1)"
cp "$work/small"/comparison*-1024x768.png "$out/"
# 1920 x 1080 device pixels at 200 %: 960 x 540 logical pixels.
run 1 "$work/hidpi" "$(screen hidpi 960 540 2)"
cp "$work/hidpi"/comparison*-1920x1080-200.png "$out/"

comparisons=
for view in "" -side-by-side -difference; do
  comparisons="$comparisons comparison$view-1024x768 comparison$view-1920x1080-200"
done
for picture in main-window main-window-200 main-window-800x600 dialog reference-roi reference-viewer frame-viewer \
  ab-comparison $comparisons; do
  if [ ! -s "$out/$picture.png" ]; then
    echo "screenshots: $out/$picture.png was not written" >&2
    exit 1
  fi
  echo "$out/$picture.png"
done
