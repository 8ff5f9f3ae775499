#!/usr/bin/env bash
# Pictures of the desktop application: the dialog after a whole run, the reference viewer
# (the reconstruction) and the frame viewer (the enlarged first frame it is compared with).
# Runs without a display on Qt's offscreen platform.
#
#   scripts/screenshots.sh [BIN_DIR] [OUT_DIR]
#
# BIN_DIR holds lumet and lumet-cli (default build/release/bin); the pictures go to
# OUT_DIR (default build/screenshots): dialog.png, reference-viewer.png, frame-viewer.png.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${1:-$root/build/release/bin}
out=${2:-$root/build/screenshots}
# The application runs in the sequence's folder, so both paths must be absolute.
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
"$bin/lumet-cli" synth "$work" --lr-count 4 >/dev/null

(cd "$work" && QT_QPA_PLATFORM=offscreen "$bin/lumet" --screenshots "$out")

for picture in dialog reference-viewer frame-viewer; do
  if [ ! -s "$out/$picture.png" ]; then
    echo "screenshots: $out/$picture.png was not written" >&2
    exit 1
  fi
  echo "$out/$picture.png"
done
