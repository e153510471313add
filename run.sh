#!/usr/bin/env bash
# Installs what is missing, builds Corvelta and starts it.
set -euo pipefail
cd "$(dirname "$0")"

# The offline demo: substitute services, simulated clocks and Corvelta.
if [ "${1:-}" = "--demo" ]; then
    shift
    exec tools/demo/run-demo.sh "$@"
fi

tools/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvelta

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting Corvelta on the offscreen platform (no window will appear)."
    export QT_QPA_PLATFORM=offscreen
fi
exec build/corvelta "$@"
