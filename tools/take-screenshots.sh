#!/usr/bin/env bash
# Takes the README screenshots: runs the offline demo (./run.sh --demo) on a
# virtual X display and captures the main window and the clock simulator into
# docs/screenshots/. Installs Xvfb and ImageMagick with apt-get if missing.
# Anyone can rerun it; it waits until the stock clock has received its first
# ticker texts (about fifteen seconds after start) before capturing.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

tools/install-deps.sh xvfb imagemagick fonts-dejavu-core

out_dir="$repo/docs/screenshots"
mkdir -p "$out_dir"

# Window placement on the virtual screen: side by side, never overlapping,
# so each can be cut out of one capture of the whole screen.
main_geometry="803x622+0+0"
sim_geometry="960x622+820+0"
screen="1800x640x24"
display_number="${SCREENSHOT_DISPLAY:-77}"

pids=()
cleanup() {
    trap - EXIT INT TERM
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb ":$display_number" -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display_number"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display_number" ] && break
    sleep 0.1
done

mkdir -p "$repo/.demo"
DEMO_CORVELTA_GEOMETRY="$main_geometry" DEMO_CLOCKSIM_GEOMETRY="$sim_geometry" \
    tools/demo/run-demo.sh >"$repo/.demo/screenshots.out" 2>&1 &
pids+=($!)

# Wait for the first stock refresh to reach the clocks (it follows the first
# weather refresh by ten seconds), then a moment for the windows to repaint.
log_pattern="$repo/.demo/Corvelta_*.log"
rm -f $log_pattern
for _ in $(seq "${SCREENSHOT_WAIT:-120}"); do
    if grep -qs "Sending Stock Data" $log_pattern; then
        break
    fi
    sleep 1
done
if ! grep -qs "Sending Stock Data" $log_pattern; then
    echo "warning: no stock data was sent in time; capturing anyway" >&2
fi
sleep 2

import -display "$DISPLAY" -window root -crop "$main_geometry" +repage "$out_dir/corvelta-demo.png"
import -display "$DISPLAY" -window root -crop "$sim_geometry" +repage "$out_dir/clock-simulator.png"
echo "Written: $out_dir/corvelta-demo.png $out_dir/clock-simulator.png"
