#!/usr/bin/env bash
# Makes the portable archive from a build tree (cpack -G TGZ) and checks its
# layout: everything inside one folder of its own, the program directly in that
# folder, where its settings file (crv_settings.ini) is written beside it.
# Usage: check-archive.sh <build directory>
set -euo pipefail
build_dir="$(cd "$1" && pwd)"
out_dir="$(mktemp -d)"
trap 'rm -rf "$out_dir"' EXIT

(cd "$out_dir" && cpack -G TGZ --config "$build_dir/CPackConfig.cmake" -B "$out_dir/package" >/dev/null)
archives=("$out_dir"/package/*.tar.gz)
if [ "${#archives[@]}" -ne 1 ] || [ ! -f "${archives[0]}" ]; then
    echo "check-archive: expected one archive, found: ${archives[*]}" >&2
    exit 1
fi
archive="${archives[0]}"
folder="$(basename "$archive" .tar.gz)"

fail=0
# Every entry lies inside the one top folder, named after the archive.
while IFS= read -r entry; do
    case "$entry" in
        "$folder"/*|"$folder") ;;
        *) echo "check-archive: entry outside $folder/: $entry" >&2; fail=1 ;;
    esac
done < <(tar tzf "$archive")

tar xzf "$archive" -C "$out_dir"
program="$out_dir/$folder/corvelta"
if [ ! -f "$program" ] || [ ! -x "$program" ]; then
    echo "check-archive: $folder/corvelta missing or not executable" >&2
    tar tzvf "$archive" >&2
    fail=1
fi
# The service unit starts the program in the folder; a refused second copy (exit 1) is not restarted.
unit="$out_dir/$folder/corvelta.service"
exec_start="$(sed -n 's/^ExecStart=//p' "$unit" 2>/dev/null)"
if [ ! -x "$out_dir/$folder/$(basename "${exec_start:-none}")" ] || ! grep -qx 'RestartPreventExitStatus=1' "$unit"; then
    echo "check-archive: $folder/corvelta.service missing, or it does not start $folder/corvelta" >&2
    fail=1
fi
# The unit as systemd reads it, on a copy pointed at the unpacked folder: nothing for verify to say
# (a misspelt setting is only a warning), and an exposure score of at most 3.0.
sed "s#/opt/corvelta#$out_dir/$folder#g" "$unit" >"$out_dir/$folder/check.service"
complaints="$(systemd-analyze verify "$out_dir/$folder/check.service" 2>&1)" || complaints+=" (verify failed)"
score="$(systemd-analyze security --offline=yes --threshold=30 "$out_dir/$folder/check.service" 2>&1)" ||
    complaints+="rated above 3.0: $(echo "$score" | grep -v '✓')"
[ -z "$complaints" ] || { echo "check-archive: $folder/corvelta.service: $complaints" >&2; fail=1; }
echo "check-archive: corvelta.service: $(echo "$score" | grep -o 'exposure level.*')"
[ "$fail" -eq 0 ] || exit 1
echo "check-archive: $(basename "$archive") holds the program in $folder/"
