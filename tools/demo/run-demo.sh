#!/usr/bin/env bash
# Offline demo: starts, on loopback only, the substitute weather and quote
# services, three simulated clocks (127.0.0.2 and 127.0.0.3 show the weather,
# 127.0.0.4 the stocks) and Corvelta itself, run from a directory of its own
# (.demo/) with a copy of the executable and a demo settings file, so the
# real settings beside the built program are never touched. Both feeds
# refresh every minute, all day. Ctrl-C stops everything it started.
#
# Arguments are passed to the clock simulator (for example --drop 30,
# --delay 150, --silent or --console). Optional window placement, used by the
# screenshot script: DEMO_CORVELTA_GEOMETRY, DEMO_CLOCKSIM_GEOMETRY (X11
# geometry such as 803x622+0+0).
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$repo"

tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvelta corvelta-clocksim corvelta-demo-settings

demo_dir="$repo/.demo"
weather_clocks=(127.0.0.2 127.0.0.3)
stock_clocks=(127.0.0.4)
mkdir -p "$demo_dir"

pids=()
cleanup() {
    trap - EXIT INT TERM
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

clocksim_args=("$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: Corvelta runs offscreen and the clocks print what they receive."
    export QT_QPA_PLATFORM=offscreen
    clocksim_args=(--console "${clocksim_args[@]}")
fi

# The substitute services pick free ports and name them in a file.
ports_file="$demo_dir/services.ports"
rm -f "$ports_file"
python3 tools/demo/substitute_services.py --port-file "$ports_file" \
    >"$demo_dir/services.out" 2>"$demo_dir/services.log" &
pids+=($!)
for _ in $(seq 100); do
    [ -s "$ports_file" ] && break
    kill -0 "${pids[0]}" 2>/dev/null || { cat "$demo_dir/services.log" >&2; exit 1; }
    sleep 0.1
done
weather_url="$(awk '$1 == "weather" { print $2 }' "$ports_file")"
stock_url="$(awk '$1 == "stock" { print $2 }' "$ports_file")"
if [ -z "$weather_url" ] || [ -z "$stock_url" ]; then
    echo "The substitute services did not start; see $demo_dir/services.log" >&2
    exit 1
fi

geometry=()
[ -n "${DEMO_CLOCKSIM_GEOMETRY:-}" ] && geometry=(-geometry "$DEMO_CLOCKSIM_GEOMETRY")
build/corvelta-clocksim "${geometry[@]}" "${clocksim_args[@]}" \
    "${weather_clocks[@]}" "${stock_clocks[@]}" &
clocksim_pid=$!
pids+=("$clocksim_pid")

cp -f build/corvelta "$demo_dir/corvelta"
build/corvelta-demo-settings --output "$demo_dir/crv_settings.ini" \
    --weather-url "$weather_url" --stock-url "$stock_url" \
    --weather-clocks "$(IFS=,; echo "${weather_clocks[*]}" | sed 's/,/, /g')" \
    --stock-clocks "$(IFS=,; echo "${stock_clocks[*]}" | sed 's/,/, /g')"

# The simulated clocks must hold their addresses before Corvelta sends.
sleep 1
if ! kill -0 "$clocksim_pid" 2>/dev/null; then
    echo "The clock simulator did not start (is something else bound to the clock addresses?)" >&2
    exit 1
fi

geometry=()
[ -n "${DEMO_CORVELTA_GEOMETRY:-}" ] && geometry=(-geometry "$DEMO_CORVELTA_GEOMETRY")
# Run from its own directory, so the log lands there too.
(cd "$demo_dir" && exec ./corvelta "${geometry[@]}" 2>"$demo_dir/corvelta.out") &
corvelta_pid=$!
pids+=("$corvelta_pid")

cat <<INFO
Corvelta demo running (Ctrl-C stops it all):
  weather service  $weather_url
  quote service    $stock_url
  weather clocks   ${weather_clocks[*]}   stock clock  ${stock_clocks[*]}
  Corvelta         $demo_dir (settings crv_settings.ini, log Corvelta_*.log)
The weather refreshes at once and then every minute; the stocks ten seconds later.
INFO

status=0
wait "$corvelta_pid" || status=$?
# Exit status 1: refused, another Corvelta already runs on this machine.
if [ "$status" -eq 1 ]; then
    grep -m1 "already running" "$demo_dir/corvelta.out" >&2 || true
fi
