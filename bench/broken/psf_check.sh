#!/usr/bin/env bash
# Measures the enhanced method (or METHOD=classic) on sequences with truth whose true PSF is
# or is not the stated one, and prints per sequence the PSNR of frame 0 enlarged and of the
# result against the truth, the PSF the PSF check chose and the time of the run:
#   bench/broken/psf_check.sh OUT [CLI [LABEL]]
# SEQS chooses the sequences (NAME:broken:KIND:SCENE:SEED or NAME:synth:SYNTH_OPTIONS with _ for
# spaces); EXTRA adds run options (EXTRA="--psf-sigma 0.6" tells a sequence a wider PSF).
set -uo pipefail
out=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
cli=${2:-$here/build/release/bin/lumet-cli}
label=${3:-run}
gen=$here/build/release/bin/lumet-broken-sequence
mkdir -p "$out"
mk() {  # NAME HOW
  local d=$out/seq-$1
  [ -d "$d/images" ] && return
  case $2 in
    broken:*) IFS=: read -r _ kind scene seed <<< "$2"; "$gen" "$kind" "$scene" "$seed" "$d" > /dev/null ;;
    synth:*) "$cli" synth "$d" ${2#synth:} > /dev/null 2>&1; "$gen" bicubic "$d" > /dev/null ;;
  esac
}
SEQS=${SEQS:-"psf-tex:broken:psf:texture:3 psf-chart:broken:psf:chart:3 ideal-tex:broken:ideal:texture:3
ideal-chart:broken:ideal:chart:3 chart04:synth:--scene_chart_--psf-sigma_0.4_--seed_2_--scale_3
tex03:synth:--scene_texture_--psf-sigma_0.3_--seed_4_--scale_3 chart10:synth:--scene_chart_--psf-sigma_1.0_--seed_5_--scale_3
static04:synth:--scene_chart_--psf-sigma_0.4_--motion_0.2_--seed_6_--scale_3
static06:synth:--scene_chart_--psf-sigma_0.6_--motion_0.2_--seed_7_--scale_3"}
method=${METHOD:-enhanced}
for s in $SEQS; do
  name=${s%%:*}
  how=${s#*:}
  mk "$name" "${how//_/ }"
  d=$out/seq-$name
  r=$d/run-$method-$label
  rm -rf "$r" && mkdir -p "$r" && cp "$d/param.txt" "$r/"
  start=$(date +%s.%N)
  # shellcheck disable=SC2086
  "$cli" -C "$r" run --method "$method" --lr-pattern "$d/images/lr-%d.bmp" ${EXTRA:-} > "$r/log" 2> "$r/err"
  t=$(echo "$(date +%s.%N) - $start" | bc)
  p=$("$cli" compare "$r/result/hr.bmp" "$d/truth/hr.bmp" | awk '{print $3; exit}')
  b=$("$cli" compare "$d/truth/bicubic.bmp" "$d/truth/hr.bmp" | awk '{print $3; exit}')
  psf=$(grep -o '^PSF = [0-9.]*' "$r/log" | awk '{print $3}')
  printf '%-12s %-10s stated %-4s bicubic %7s  %s %7s  psf %-9s %6.2f s\n' "$name" "$label" \
    "$(sed -n 9p "$d/param.txt")" "$b" "$method" "$p" "${psf:-stated}" "$t"
done
