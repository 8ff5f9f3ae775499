#!/usr/bin/env bash
# End-to-end timing: makes the default synthetic sequence and times registration and
# reconstruction with the standard parameters. Usage: bench/e2e.sh [BIN_DIR] [WORK_DIR]
set -euo pipefail
bin=$(cd "${1:-build/release/bin}" && pwd)
work=${2:-$(mktemp -d)}
mkdir -p "$work"
"$bin/lumet-cli" synth "$work" >/dev/null
cd "$work"
t0=$(date +%s.%N)
"$bin/lumet-cli" register >/dev/null
t1=$(date +%s.%N)
"$bin/lumet-cli" reconstruct >/dev/null
t2=$(date +%s.%N)
printf 'registration   %6.2f s (30 frames, 320x240)\n' "$(awk "BEGIN{print $t1 - $t0}")"
printf 'reconstruction %6.2f s (30 frames, 160x160 HR grid, 300 steps)\n' "$(awk "BEGIN{print $t2 - $t1}")"
"$bin/lumet-cli" compare result/hr.bmp truth/hr.bmp
