#!/bin/sh
# Builds the end-to-end test packages with the packer and runs the Windows
# side of the tests under Wine (on the build tree's Xvfb when there is no
# display, see tools/wine-run). Exits with the test program's exit code.
#
#   run_e2e.sh KXPACK STUB E2E_EXE [GTEST_ARGS...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
kxpack=$1
stub=$2
tests=$3
shift 3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/src" "$scratch/packages" "$scratch/temp"

# package NAME [LAYER]: the base package, with a layer's files laid over it.
package() {
    cp -R "$here/packages/base" "$scratch/src/$1"
    mkdir -p "$scratch/src/$1/data"
    # 3 MiB of payload, so the folder page has a size to report.
    head -c 3145728 /dev/zero >"$scratch/src/$1/data/filler.bin"
    [ $# -lt 2 ] || cp -R "$here/packages/$2/." "$scratch/src/$1/"
}

# drop NAME FILE...: leaves control files out of a package.
drop() {
    name=$1
    shift
    for file in "$@"; do rm "$scratch/src/$name/%KXInstall%/$file"; done
}

package full
package welcome-only && drop welcome-only license.txt
package license-only && drop license-only wt.txt
package no-texts && drop no-texts wt.txt license.txt
package no-shortcuts && drop no-shortcuts shortcuts.txt
package untitled && drop untitled tt.txt
package start-menu-only start-menu-only
package separate-progress separate-progress
# Random bytes do not compress: copying 200 MiB out, or placing them, takes
# long enough to cancel.
package big big && head -c 209715200 /dev/urandom >"$scratch/src/big/data/noise.bin"
# Full-screen backgrounds. Their pictures lie directly in bgimg/ under names
# that begin with the page key ("bgimg/6-1.bmp"): kxpack stores an entry for
# every folder, and an entry bgimg/6/ would be page key 6's first record, a
# picture that never loads.
package background-framed background-framed
package background-borderless background-borderless
package background-slideshow background-slideshow
# 40 payload items (readme.txt, data/, data/filler.bin, item03 ... item39),
# placed in that order: fileinfo.txt line N is the Nth item done.
for i in $(seq 3 39); do echo "item $i" >"$scratch/src/background-slideshow/item$(printf %02d "$i").txt"; done
# The framed background over "big", whose first file keeps the worker busy.
package background-big big && cp -R "$here/packages/background-framed/." "$scratch/src/background-big/"
ln "$scratch/src/big/data/noise.bin" "$scratch/src/background-big/data/noise.bin"
# The tests draw the background's text in the package font themselves.
cp "$here/packages/background-framed/%KXInstall%/font" "$scratch/packages/background-font.ttf"
package placement placement
package shortcuts shortcuts
# The same noise behind a small first file, so a cancel lands after it.
package cancel cancel && ln "$scratch/src/big/data/noise.bin" "$scratch/src/cancel/data/noise.bin"
package end-of-install end-of-install
package end-of-install-ok end-of-install && printf 'OK' >"$scratch/src/end-of-install-ok/%KXInstall%/eoi_buttons.txt"
cp -R "$root/examples/sample-app" "$scratch/src/sample-app"

for dir in "$scratch"/src/*; do
    "$kxpack" build "$dir" -o "$scratch/packages/$(basename "$dir").exe" --stub "$stub" >/dev/null
done

# Wine shows the Linux root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
KX_E2E_PACKAGES=$(winpath "$scratch/packages")
KX_E2E_TEMP=$(winpath "$scratch/temp")
# The packages' source folders stay, for comparing placed files with them.
KX_E2E_SOURCES=$(winpath "$scratch/src")
# Shortcuts the tests create must not turn into menu entries of the Linux desktop.
KX_DLLOVERRIDES=winemenubuilder.exe=d
export KX_E2E_PACKAGES KX_E2E_TEMP KX_E2E_SOURCES KX_DLLOVERRIDES

status=0
KX_DISPLAY=1 "$root/tools/wine-run" "$tests" "$@" || status=$?
exit "$status"
