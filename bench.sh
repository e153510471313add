#!/usr/bin/env bash
# Builds Corvelta's benchmarks in a Release build of their own (build-bench/),
# runs every measurement and writes the figures, with the machine, the build
# type and the command behind each, to bench/results.md (or the file given as
# the first argument). Everything stays on loopback. It takes about five
# minutes, two of them the 60 s runs of the program (longer while another
# process holds the clock port lock); run it on an otherwise
# idle machine, since every figure is a timing.
#
#   ./bench.sh                   all measurements, results in bench/results.md
#   IDLE_SECONDS=20 ./bench.sh   shorter runs of the program (default 60)
set -euo pipefail
repo="$(cd "$(dirname "$0")" && pwd)"
cd "$repo"

# What the build needs, and strace, which counts the clock link's system calls.
tools/install-deps.sh strace

build_dir=build-bench
build_type=Release
results="${1:-bench/results.md}"
idle_seconds="${IDLE_SECONDS:-60}"
jobs="$(nproc)"

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
cmake --build "$build_dir" -j"$jobs" --target corvelta corvelta-demo-settings \
    bench_replyreading bench_clocklink bench_clockswindow bench_program bench_refreshhour bench_webserver >/dev/null

bench_bin="$repo/$build_dir/bench"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

compiler="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build_dir/CMakeCache.txt")"
flags="$(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")"
cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
memory="$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
qt="$(sed -n 's/^Qt5Core_DIR:[A-Z]*=//p' "$build_dir/CMakeCache.txt")"
qt_version="$(pkg-config --modversion Qt5Core 2>/dev/null || echo "5.15 (${qt})")"

machine="nproc $(nproc), ${cpu}, ${memory} memory, $(uname -sr)"
build="${build_type} (${compiler} $("$compiler" -dumpversion) ${flags}), Qt ${qt_version}"

# Runs one benchmark from the scratch directory (log files go to the
# working directory) and appends its section to the results; the programs'
# debug output goes to a file there, shown only when a benchmark fails.
section() {
    local title="$1" command="$2"
    shift 2
    echo "== $title" >&2
    {
        echo "### $title"
        echo
        echo "- Command: \`$command\` (from \`./bench.sh\`, working directory a scratch directory)"
        echo "- Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
        echo
        (cd "$scratch" && "$@" 2>>"$scratch/stderr.log") || {
            echo "$title failed; its last messages:" >&2
            tail -n 20 "$scratch/stderr.log" >&2
            exit 1
        }
        echo
    } >>"$results.tmp"
}

mkdir -p "$(dirname "$results")"
{
    echo "# Corvelta benchmark results"
    echo
    echo "Written by \`./bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
    echo
    echo "- Machine: ${machine}"
    echo "- Build: ${build}, build directory \`${build_dir}\`"
    echo "- Every figure below was produced on this machine with this build, by the command given with it."
    echo
} >"$results.tmp"

section "Reading replies: own reading vs full JSON parse" \
    "$build_dir/bench/bench_replyreading" "$bench_bin/bench_replyreading"
section "Clock link: late answers, 100 to 10,000 acknowledging clocks, and the retransmission schedule" \
    "$build_dir/bench/bench_clocklink 100 1000 2000 5000 10000" "$bench_bin/bench_clocklink" 100 1000 2000 5000 10000
# The clock link's own thread under strace, and that thread alone (the
# substitute clocks answer at full speed): its calls that send or receive
# datagrams, per exchange (a datagram and its answer), 1,000 clocks x 5
# variables, five rounds. strace slows the thread down, which makes its
# batches larger; the link's own count without strace is in the table above.
socket_calls() {
    local out="$scratch/calls.txt" trace="$scratch/strace.txt" go="$scratch/go" pid tid strace_pid calls exchanges
    rm -f "$go" && mkfifo "$go"
    "$bench_bin/bench_clocklink" calls 1000 <"$go" >"$out" 2>>"$scratch/stderr.log" &
    pid=$!
    exec 3>"$go"
    until grep -q '^link thread ' "$out" 2>/dev/null; do sleep 0.1; done
    tid="$(sed -n 's/^link thread //p' "$out")"
    strace -qq -p "$tid" -e signal=none -e trace=sendto,sendmsg,sendmmsg,recvfrom,recvmsg,recvmmsg -o "$trace" &
    strace_pid=$!
    until [ "$(awk '/^TracerPid:/ { print $2 }' "/proc/$pid/task/$tid/status" 2>/dev/null || echo 0)" != 0 ]; do
        sleep 0.1
    done
    echo go >&3
    exec 3>&-
    wait "$pid"
    wait "$strace_pid" || true
    exchanges="$(sed -n 's/^exchanges //p' "$out")"
    # An interrupted call shows as two lines; its "resumed" line is not counted.
    calls="$(grep -vc 'resumed>' "$trace" || true)"
    echo "#### The link thread's socket calls, counted by strace (1,000 clocks x 5 variables, 5 rounds)"
    echo
    echo "| calls | exchanges | calls per exchange | the link's own count | transmissions | load average before |"
    echo "|---:|---:|---:|---:|---:|---|"
    echo "| $calls | $exchanges | $(awk -v c="$calls" -v e="$exchanges" 'BEGIN { printf "%.3f", c / e }') |" \
        "$(sed -n 's/^own count //p' "$out") | $(sed -n 's/^transmissions //p' "$out") |" \
        "$(sed -n 's/^load //p' "$out") |"
    echo
    echo "By call: $(grep -v 'resumed>' "$trace" | awk '{ sub(/\(.*/, "", $1); n[$1]++ }
        END { for (c in n) printf "%s %d; ", c, n[c] }')"
}
section "Clock link: system calls of the link's thread (strace)" \
    "strace -p <the link thread> -e trace=sendto,sendmsg,sendmmsg,recvfrom,recvmsg,recvmmsg on $build_dir/bench/bench_clocklink calls 1000" \
    socket_calls
section "Clocks window and status file: 1,000 and 10,000 clocks" \
    "$build_dir/bench/bench_clockswindow" \
    env QT_QPA_PLATFORM=offscreen "$bench_bin/bench_clockswindow"
section "Web server: /metrics, /status.json, the snapshot copy and the idle day's status files, 1,000 clocks" \
    "$build_dir/bench/bench_webserver" "$bench_bin/bench_webserver"
section "The running program: start time, CPU and memory" \
    "$build_dir/bench/bench_program $idle_seconds" "$bench_bin/bench_program" "$idle_seconds"
section "Memory over one simulated hour of refreshes" \
    "$build_dir/bench/bench_refreshhour" \
    env QT_QPA_PLATFORM=offscreen "$bench_bin/bench_refreshhour"

mv "$results.tmp" "$results"
echo "Results written to $results" >&2
