#!/bin/sh
# Packs the example package with the stub, runs the installer under Wine and
# checks that it ends with exit code 0 and leaves no workspace behind.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
kxpack=$1
stub=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$kxpack" build "$root/examples/sample-app" -o "$scratch/SampleAppSetup.exe" --stub "$stub" >/dev/null
status=0
"$root/tools/wine-run" "$scratch/SampleAppSetup.exe" || status=$?
[ "$status" -eq 0 ] || { echo "installer exit code $status"; exit 1; }

prefix="${KX_WINEPREFIX:-$root/build/wineprefix}"
leftover=$(find "$prefix/drive_c/users" -maxdepth 4 -name '%KXInstall%' 2>/dev/null | head -n 1)
[ -z "$leftover" ] || { echo "workspace left behind: $leftover"; exit 1; }
echo "installer ran and removed its workspace"
