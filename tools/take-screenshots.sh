#!/usr/bin/env bash
# Takes the README screenshots: runs the offline demo (./run.sh --demo) on a
# virtual X display and captures the main window, the clock simulator and the
# setup dialog into docs/screenshots/. Installs Xvfb, ImageMagick and xdotool
# (which presses the Setup button) with apt-get if missing.
# Anyone can rerun it; it waits until the stock clock has received its first
# ticker texts (about fifteen seconds after start) before capturing.
#
# The demo binds the clock port (UDP 7372), as some tests do. Those tests hold
# a machine-wide QLockFile (tests/support/clockportlock.cpp); this script
# holds the same lock, written in QLockFile's format, while the demo runs, and
# waits while a live test holds it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

tools/install-deps.sh xvfb imagemagick xdotool fonts-dejavu-core

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

lock_file="${TMPDIR:-/tmp}"
lock_file="${lock_file%/}/corvelta-clockport.lock"
lock_taken=
# QLockFile's format: pid, program (file name of /proc/<pid>/exe), host name,
# machine id, boot id, one a line. A test that finds it sees a live holder.
own_lock_contents() {
    local exe
    exe="$(readlink "/proc/$$/exe")"
    printf '%s\n%s\n%s\n%s\n%s\n' "$$" "${exe##*/}" "$(uname -n)" \
        "$(cat /etc/machine-id 2>/dev/null || cat /var/lib/dbus/machine-id 2>/dev/null || true)" \
        "$(cat /proc/sys/kernel/random/boot_id 2>/dev/null || true)"
}
# True unless the lock file names a process that has ended (or whose
# executable is another program), as QLockFile judges a stale lock. A file
# being written (no pid yet) counts as held.
lock_holder_alive() {
    local pid="" app="" exe
    { read -r pid && read -r app; } <"$lock_file" 2>/dev/null || true
    [[ "$pid" =~ ^[0-9]+$ ]] || return 0
    exe="$(readlink "/proc/$pid/exe" 2>/dev/null)" || return 1
    exe="${exe% (deleted)}"
    [ -z "$app" ] || [ "${exe##*/}" = "$app" ]
}
take_clock_port_lock() {
    local staged="$lock_file.$$" waited=0
    own_lock_contents >"$staged"
    # A hard link appears whole or not at all, and never replaces a lock.
    until ln "$staged" "$lock_file" 2>/dev/null; do
        if [ -e "$lock_file" ] && ! lock_holder_alive; then
            rm -f "$lock_file"
            continue
        fi
        if ((waited % 300 == 0)); then
            echo "Waiting for the clock port: $lock_file is held by a running test" >&2
        fi
        waited=$((waited + 1))
        # Often: tests run one after another, with short gaps between them.
        sleep 0.1
    done
    rm -f "$staged"
    lock_taken=1
}
release_clock_port_lock() {
    local pid=""
    rm -f "$lock_file.$$"
    [ -n "$lock_taken" ] || return 0
    read -r pid <"$lock_file" 2>/dev/null || true
    [ "$pid" != "$$" ] || rm -f "$lock_file"
    lock_taken=
}

pids=()
cleanup() {
    trap - EXIT INT TERM
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    release_clock_port_lock
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
take_clock_port_lock
DEMO_CORVELTA_GEOMETRY="$main_geometry" DEMO_CLOCKSIM_GEOMETRY="$sim_geometry" \
    tools/demo/run-demo.sh >"$repo/.demo/screenshots.out" 2>&1 &
pids+=($!)

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
grep -h "Application font" "$repo/.demo/corvelta.out" || true
echo "Written: ${written[*]}"
