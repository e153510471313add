#!/usr/bin/env bash
# Takes the README screenshots: runs the offline demo (./run.sh --demo) on a
# virtual X display and captures the main window, the clock simulator, the
# setup dialog and the Clocks window into docs/screenshots/, and the web page
# at desktop and phone width with headless Chromium. Installs Xvfb,
# ImageMagick, xdotool (which presses the Setup button) and chromium with
# apt-get if missing.
# Anyone can rerun it; it waits until the stock clock has received its first
# ticker texts (about fifteen seconds after start) before capturing.
#
# The demo binds the clock port (UDP 7372), as some tests do. It runs under
# tools/clockportlock.py, which holds the tests' clock-port lock while the
# demo runs and waits (saying for whom) while a test holds it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

tools/install-deps.sh xvfb imagemagick xdotool fonts-dejavu-core chromium

out_dir="$repo/docs/screenshots"
mkdir -p "$out_dir"

# Window placement on the virtual screen: side by side, never overlapping,
# so each can be cut out of one capture of the whole screen.
main_geometry="803x622+0+0"
sim_geometry="960x622+820+0"
screen="1800x640x24"
display_number="${SCREENSHOT_DISPLAY:-77}"

# Build first, so that the lock is held only while the demo runs.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvelta corvelta-clocksim corvelta-demo-settings >/dev/null

pids=()
cleanup() {
    trap - EXIT INT TERM
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb ":$display_number" -dpi 96 -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display_number"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display_number" ] && break
    sleep 0.1
done

mkdir -p "$repo/.demo"
log_pattern="$repo/.demo/Corvelta_*.log"
rm -f $log_pattern
demo_out="$repo/.demo/screenshots.out"
rm -f "$demo_out"
DEMO_CORVELTA_GEOMETRY="$main_geometry" DEMO_CLOCKSIM_GEOMETRY="$sim_geometry" \
    python3 tools/clockportlock.py --output "$demo_out" tools/demo/run-demo.sh &
pids+=($!)
# The output file appears once the lock is taken and the demo starts.
until [ -e "$demo_out" ]; do
    kill -0 "${pids[-1]}" 2>/dev/null || { echo "the demo did not start" >&2; exit 1; }
    sleep 0.2
done

# Wait for the first stock refresh to reach the clocks (it follows the first
# weather refresh by ten seconds), then a moment for the windows to repaint.
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
written=("$out_dir/corvelta-demo.png" "$out_dir/clock-simulator.png")

# The setup dialog: press "Setup" (10, 540, 131 x 31 in the window, which has
# no menu bar to show) and capture the dialog that opens over the window.
xdotool mousemove 75 555 click 1 || true
dialog_id=""
for _ in $(seq 50); do
    dialog_id="$(xdotool search --name '^Dialog$' 2>/dev/null | head -n 1)" && [ -n "$dialog_id" ] && break
    sleep 0.1
done
if [ -n "$dialog_id" ]; then
    sleep 1
    import -display "$DISPLAY" -window "$dialog_id" "$out_dir/setup-dialog.png"
    written+=("$out_dir/setup-dialog.png")
else
    echo "warning: the setup dialog did not open; setup-dialog.png is left as it was" >&2
fi

# The Clocks window: close the dialog, press Ctrl+K in the main window, move
# the window that opens over the main window's place and capture it.
xdotool key --clearmodifiers Escape || true
main_id="$(xdotool search --name '^Corvelta Version' 2>/dev/null | head -n 1)" || true
if [ -n "$main_id" ]; then
    xdotool windowfocus --sync "$main_id" key --clearmodifiers ctrl+k || true
fi
clocks_id=""
for _ in $(seq 50); do
    clocks_id="$(xdotool search --name '^Corvelta Clocks$' 2>/dev/null | head -n 1)" && [ -n "$clocks_id" ] && break
    sleep 0.1
done
if [ -n "$clocks_id" ]; then
    xdotool windowmove "$clocks_id" 0 0 || true
    sleep 1
    import -display "$DISPLAY" -window "$clocks_id" "$out_dir/clocks-window.png"
    written+=("$out_dir/clocks-window.png")
else
    echo "warning: the Clocks window did not open; clocks-window.png is left as it was" >&2
fi
# The web page the program serves, as a browser on a desktop and on a phone
# (360 px wide) shows it, the page's own script having fetched the status.
page_url="$(grep -ho 'Web page at http://[^ ]*' $log_pattern | head -n 1 | cut -d' ' -f4)" || true
if [ -n "$page_url" ] && command -v chromium >/dev/null; then
    for shot in "web-page.png 1280,760" "web-page-phone.png 360,1000"; do
        profile="$(mktemp -d)"
        chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --disable-quic --no-first-run \
            --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
            --user-data-dir="$profile" --virtual-time-budget=5000 --window-size="${shot#* }" \
            --screenshot="$out_dir/${shot% *}" "$page_url" >/dev/null 2>&1 || true
        rm -rf "$profile"
        [ -s "$out_dir/${shot% *}" ] && written+=("$out_dir/${shot% *}")
    done
else
    echo "warning: no web page was logged or chromium is missing; web-page*.png are left as they were" >&2
fi
grep -h "Application font" "$repo/.demo/corvelta.out" || true
echo "Written: ${written[*]}"
