#!/usr/bin/env bash
# Compiles resources/corvelta.rc with the MinGW resource compiler, as a Windows
# build would, and checks that the result carries the application icon and a
# version record for an application of the program's version.
# The host's C preprocessor stands in for the MinGW compiler's: it is told it
# preprocesses for 64-bit Windows and reads the MinGW headers (winver.h).
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
out_dir="$(mktemp -d)"
trap 'rm -rf "$out_dir"' EXIT

windres=x86_64-w64-mingw32-windres
mingw_include=/usr/share/mingw-w64/include

# The version of the project() line of CMakeLists.txt, as major minor patch.
read -r version_major version_minor version_patch < <(
    sed -n 's/^project(Corvelta VERSION \([0-9]*\)\.\([0-9]*\)\.\([0-9]*\).*/\1 \2 \3/p' "$source_dir/CMakeLists.txt")

"$windres" --preprocessor=cpp \
    --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED \
    --preprocessor-arg=-D_WIN32 --preprocessor-arg=-D_WIN64 \
    -I"$mingw_include" -I"$source_dir/resources" \
    -i "$source_dir/resources/corvelta.rc" -O coff -o "$out_dir/corvelta_res.o"

# Read the compiled resources back as resource script text and look for what
# Windows shows: the icon under its name, the version numbers, the file type.
"$windres" -i "$out_dir/corvelta_res.o" -O rc -o "$out_dir/decompiled.rc"
fail=0
expect() {
    if ! grep -qE "$1" "$out_dir/decompiled.rc"; then
        echo "check-windows-resources: missing $2" >&2
        fail=1
    fi
}
expect '"IDI_ICON1" 14 /\* RT_GROUP_ICON \*/' "the group icon IDI_ICON1"
expect 'RT_ICON' "the icon image"
expect "FILEVERSION $version_major, *$version_minor, *$version_patch, *0" "FILEVERSION $version_major,$version_minor,$version_patch,0"
expect "PRODUCTVERSION $version_major, *$version_minor, *$version_patch, *0" "PRODUCTVERSION $version_major,$version_minor,$version_patch,0"
expect 'FILETYPE 0x1\b' "FILETYPE VFT_APP"
expect "\"FileVersion\", \"$version_major\.$version_minor\.$version_patch" "the FileVersion string"
expect '"OriginalFilename", "corvelta\.exe' "the OriginalFilename string"
if [ "$fail" -ne 0 ]; then
    cat "$out_dir/decompiled.rc" | grep -v '^  0x' >&2
    exit 1
fi
echo "check-windows-resources: corvelta.rc compiles; icon and version record present"
