#!/bin/sh
# Packs a small installer and runs the planted-library test under Wine, with
# Wine preferring a planted rich-edit library wherever the search finds one.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
kxpack=$1
win32=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/package/%KXInstall%"
printf 'Planted library test' > "$scratch/package/%KXInstall%/tt.txt"
printf 'payload' > "$scratch/package/file.txt"
"$kxpack" build "$scratch/package" -o "$scratch/setup.exe" --stub "$win32/kxsetup.exe" >/dev/null 2>&1
# Wine shows the Linux root as drive Z:.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
KX_DLLOVERRIDES="riched32=n,b" KX_DISPLAY=1 "$root/tools/wine-run" "$win32/planted_library_test.exe" \
    "$(windows_path "$scratch/setup.exe")" "$(windows_path "$win32/planted/RichEd32.dll")" \
    "$(windows_path "$scratch/run")"
