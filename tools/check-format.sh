#!/usr/bin/env bash
# Checks that every C++ source of the tree is laid out as .clang-format says
# (Debian 12's clang-format, version 14); with --fix, lays them out so.
# Exits non-zero, naming each file and the command that fixes it, when one
# is not.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=clang-format
if ! "$formatter" --version | grep -q 'version 14\.'; then
    echo "clang-format 14 is needed (Debian 12's clang-format package); found: $("$formatter" --version)"
    exit 1
fi

# The tracked sources in a clone; every source in a tree without git.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t sources < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t sources < <(find app weather stocks clocklink replies ui tests tools bench \
        -name '*.cpp' -o -name '*.h' | sort)
fi

if [ "${1:-}" = "--fix" ]; then
    "$formatter" -i "${sources[@]}"
    exit 0
fi

unformatted=()
for source in "${sources[@]}"; do
    "$formatter" --dry-run --Werror "$source" >/dev/null 2>&1 || unformatted+=("$source")
done
if ((${#unformatted[@]})); then
    echo "Not formatted as .clang-format says:"
    printf '  %s\n' "${unformatted[@]}"
    echo "Fix them with: tools/check-format.sh --fix"
    exit 1
fi
echo "Formatting: ${#sources[@]} files as .clang-format says"
