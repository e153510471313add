#!/usr/bin/env bash
# Installs what is missing, checks that every source is formatted, builds
# Corvelta and its tests, and runs every test; then the checked builds: the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, the
# fuzz targets for a bounded time, and the packaging checks.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

# Beyond what the build needs: clang and its sanitizer/fuzzer runtimes for
# the fuzz targets, llvm-symbolizer for readable sanitizer reports, the MinGW
# resource compiler and the MinGW headers (winver.h) for the Windows resource
# check, clang-format for the layout check, systemd (systemd-analyze) for
# the service unit's check; a browser, Prometheus's promtool and its Python
# client's parser for the web page's end-to-end test.
tools/install-deps.sh clang libclang-rt-14-dev llvm \
    binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev clang-format systemd \
    chromium prometheus python3-prometheus-client

# First, so that a layout fault is told before a long build.
tools/check-format.sh

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$jobs"

source_dir="$PWD"
stage() { echo; echo "=== $* ($(date +%T)) ==="; }
# The test or target names of the given sources.
names_of() {
    local source
    for source in "$@"; do basename "$source" .cpp; done
}

# Reports of every sanitizer go to files as well as failing the process, so a
# report from a child process (the end-to-end tests run the real executable)
# or one printed after a test has passed still fails the run.
reports_dir="$source_dir/build-reports"
rm -rf "$reports_dir"
mkdir -p "$reports_dir"
check_reports() {
    local found
    found=$(find "$reports_dir" -type f -size +0c | sort)
    if [ -n "$found" ]; then
        echo "Sanitizer reports ($1):"
        for report in $found; do echo "--- $report"; cat "$report"; done
        exit 1
    fi
}
# Runs a test command; fails the run on its failure or on any report.
run_checked() {
    local what="$1"
    shift
    if ! "$@"; then
        check_reports "$what"
        echo "$what: tests failed"
        exit 1
    fi
    check_reports "$what"
}

# Allocation stacks are taken with the slow unwinder: Qt is built without
# frame pointers, and a leak suppression must see the Qt frame it names.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:exitcode=23:log_path=$reports_dir/asan"
export LSAN_OPTIONS="suppressions=$source_dir/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports_dir/ubsan"
# Qt is not built for the thread checker: reports raised in memcpy/memcmp/malloc
# calls made from its frames are dropped (see tests/sanitizers/tsan.supp).
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$source_dir/tests/sanitizers/tsan.supp:log_path=$reports_dir/tsan"

# TSan needs its fixed memory layout; run its tests without address-space
# randomisation where the kernel randomises more than it can handle.
no_aslr=()
if command -v setarch >/dev/null && setarch "$(uname -m)" -R true 2>/dev/null; then
    no_aslr=(setarch "$(uname -m)" -R)
fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVELTA_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
run_checked "address/undefined build" \
    env QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure -j"$jobs"

stage "ThreadSanitizer: the clock-link tests, the status board and the window's link wiring"
# The threads: the clock link's worker, the status file's writer.
mapfile -t clocklink_tests < <(names_of tests/clocklink/tst_*.cpp tests/app/tst_statusboard.cpp \
    tests/ui/tst_mainwindowform.cpp)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DCORVELTA_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target "${clocklink_tests[@]}"
pattern="^($(IFS='|'; echo "${clocklink_tests[*]}"))\$"
run_checked "thread build" \
    env QT_QPA_PLATFORM=offscreen "${no_aslr[@]}" ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R "$pattern"

stage "Fuzz targets (libFuzzer, clang)"
mapfile -t fuzz_targets < <(names_of tests/fuzz/fuzz_*.cpp)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCORVELTA_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target "${fuzz_targets[@]}"
# About a minute in all, shared between the targets.
fuzz_seconds=$(( ${CORVELTA_FUZZ_SECONDS:-60} / ${#fuzz_targets[@]} ))
(( fuzz_seconds >= 5 )) || fuzz_seconds=5
# A fuzz target prints its own report and exits non-zero.
fuzz_env=(env QT_QPA_PLATFORM=offscreen
          ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0"
          UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1")
for target in "${fuzz_targets[@]}"; do
    corpus="tests/fuzz/corpus/$target"
    work="build-fuzz/fuzz-work/$target"
    mkdir -p "$work/corpus" "$work/artifacts"
    # Every kept input (seeds and regression inputs of crashes found
    # before) once, then new inputs for the target's share of the time.
    # New inputs stay in the build tree; a crash's input is written to
    # build-fuzz/fuzz-work/<target>/artifacts to be kept under $corpus.
    if [ -d "$corpus" ]; then
        "${fuzz_env[@]}" build-fuzz/tests/fuzz/"$target" "$corpus"/* >"$work/regression.log" 2>&1 ||
            { cat "$work/regression.log"; echo "$target fails on a kept input"; exit 1; }
    else
        corpus=""
    fi
    "${fuzz_env[@]}" build-fuzz/tests/fuzz/"$target" -max_total_time="$fuzz_seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" $corpus >"$work/fuzz.log" 2>&1 ||
        { tail -60 "$work/fuzz.log"; echo "$target found a failing input: see $work/artifacts"; exit 1; }
    echo "$target: $(grep -E 'stat::number_of_executed_units' "$work/fuzz.log" | awk '{print $2}') runs in ${fuzz_seconds}s, no failure"
done

stage "Packaging: Windows resources, GUI executable, portable archive, service unit"
tests/packaging/check-windows-resources.sh
tests/packaging/check-archive.sh build

stage "All checks passed"
