#!/usr/bin/env bash
# The window on a bare X server (Xvfb, no window manager to give it the focus): right
# after it opens, with nothing clicked, F5 starts a run and Esc cancels it. The run is
# seen through the program's CPU time, which climbs while it works and stops once it is
# cancelled; a run that went on would write result/hr.bmp.
#   x11_keys_test.sh BIN_DIR
# Exits 77 (skipped) when Xvfb or xdotool is missing.
set -euo pipefail
bin=$(cd "$1" && pwd)
for tool in Xvfb xdotool; do
  command -v "$tool" > /dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done

work=$(mktemp -d)
xvfb=
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2> /dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2> /dev/null || true
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A sequence whose run takes far longer than the test: the enhanced method on a large ROI.
"$bin/lumet-cli" synth "$work/seq" > /dev/null
(cd "$work/seq" && "$bin/lumet-cli" params --method enhanced --roi 20,20,280,200 > /dev/null)

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; fail "Xvfb gave no display"; }
unset QT_QPA_PLATFORM QT_SCALE_FACTOR
export DISPLAY=":$(cat "$work/display")"

XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" "$bin/lumet" "$work/seq" > "$work/app.log" 2>&1 &
app=$!
xdotool search --sync --onlyvisible --class lumet > /dev/null
sleep 1  # the window's first paint and its start-up work

cpu() {  # the program's user + system time in clock ticks
  awk '{ print $14 + $15 }' "/proc/$app/stat"
}
ticks=$(getconf CLK_TCK)
before=$(cpu)
xdotool key F5
sleep 2
started=$(cpu)
[ $((started - before)) -gt $((ticks / 2)) ] || fail "F5 started no run (CPU $((started - before)) ticks in 2 s)"

xdotool key Escape
sleep 2  # the cancel is taken at the next step of the run
settled=$(cpu)
sleep 2
idle=$(cpu)
[ $((idle - settled)) -lt $((ticks / 5)) ] || fail "Esc did not stop the run (CPU $((idle - settled)) ticks in 2 s after it)"
[ ! -e "$work/seq/result/hr.bmp" ] || fail "the run went on to write its result"
kill -0 "$app" 2> /dev/null || { cat "$work/app.log"; fail "the window closed"; }
echo "F5 started a run and Esc cancelled it, with nothing clicked before"
