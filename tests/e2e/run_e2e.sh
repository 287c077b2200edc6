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
mounts=""
drives=""
# Every way out unmounts what was mounted and removes the drives made for it.
cleanup() {
    for drive in $drives; do rm -f "$drive"; done
    for mount in $mounts; do umount "$mount" || umount -l "$mount"; done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
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
# Texts, names, a product and a start-menu group in other languages (UTF-8),
# and a welcome text in Windows-1252.
package unicode unicode
package ansi ansi
package end-of-install-ok end-of-install && printf 'OK' >"$scratch/src/end-of-install-ok/%KXInstall%/eoi_buttons.txt"
cp -R "$root/examples/sample-app" "$scratch/src/sample-app"
# The example with each scope.
for scope in user machine either; do
    cp -R "$root/examples/sample-app" "$scratch/src/sample-app-$scope"
    echo "$scope" >"$scratch/src/sample-app-$scope/%KXInstall%/scope.txt"
done
# data\marked.bin: noise with a marker in its middle, which stays readable
# in the package (noise is stored as it is), so one byte of it can be damaged.
package damaged-item damaged-item
marker=KX-DAMAGE-MARKER
{ head -c 16384 /dev/urandom; printf '%s' "$marker"; head -c 16384 /dev/urandom; } >"$scratch/src/damaged-item/data/marked.bin"
# The damaged installers are made from this one: 2 MiB of noise put most of
# its bytes into the package, so cutting it in half leaves a stub that runs.
package intact && head -c 2097152 /dev/urandom >"$scratch/src/intact/data/noise.bin"

# Two versions of the example. Version 1 adds dropped.txt and 2000 small
# files; version 2 replaces readme.txt and the small files, adds 200 MiB of
# noise (which keeps the worker busy long enough for a cancel) and
# added.txt, drops dropped.txt and moves the default folder.
upgrade_files() {
    mkdir -p "$scratch/src/$1/many"
    for i in $(seq -w 0 1999); do echo "$1 file $i" >"$scratch/src/$1/many/f$i.txt"; done
    (cd "$scratch/src/$1" && ls many | sed 's/^/many\\/; s/$/|%install path%\\/') >"$scratch/many-lines.txt"
}
cp -R "$root/examples/sample-app" "$scratch/src/upgrade-v1"
echo "only in version 1" >"$scratch/src/upgrade-v1/dropped.txt"
upgrade_files upgrade-v1
{ printf 'readme.txt|%%install path%%\\\r\ndocs\\manual.txt|%%install path%%\\\r\ndata\\settings.ini|%%install path%%\\\r\ndropped.txt|%%install path%%\\\r\n'
  sed 's/$/\r/' "$scratch/many-lines.txt"; printf '////\r\n'; } >"$scratch/src/upgrade-v1/%KXInstall%/fileinfo.txt"
cp -R "$root/examples/sample-app" "$scratch/src/upgrade-v2"
echo "version 2 readme" >"$scratch/src/upgrade-v2/readme.txt"
echo "new in version 2" >"$scratch/src/upgrade-v2/added.txt"
ln "$scratch/src/big/data/noise.bin" "$scratch/src/upgrade-v2/data/noise.bin"
upgrade_files upgrade-v2
{ printf 'readme.txt|%%install path%%\\\r\ndata\\noise.bin|%%install path%%\\\r\nadded.txt|%%install path%%\\\r\ndocs\\manual.txt|%%install path%%\\\r\ndata\\settings.ini|%%install path%%\\\r\n'
  sed 's/$/\r/' "$scratch/many-lines.txt"; printf '////\r\n'; } >"$scratch/src/upgrade-v2/%KXInstall%/fileinfo.txt"
sed -i 's/^1\.0/2.0/' "$scratch/src/upgrade-v2/%KXInstall%/macros.txt"
printf '%%program files%%\\%%ProductName%% 2\r\n' >"$scratch/src/upgrade-v2/%KXInstall%/def_install.txt"
# Solid packages: 200 MiB of zeros make a small stream whose decompression
# takes long enough to cancel; "intact-solid" is the damaged ones' source.
package big-solid && head -c 209715200 /dev/zero >"$scratch/src/big-solid/data/zeros.bin"
package intact-solid && head -c 1048576 /dev/urandom >"$scratch/src/intact-solid/data/noise.bin"
solid_packages="big-solid intact-solid"

# The example carries the uninstaller built beside the stub.
for dir in "$scratch"/src/*; do
    name=$(basename "$dir")
    with=""
    case "$name" in
        sample-app | sample-app-user | sample-app-machine | sample-app-either | upgrade-v*)
            with="--uninstaller=$(dirname "$stub")/kxuninst.exe" ;;
    esac
    format=--plain
    case " $solid_packages " in *" $name "*) format=--solid ;; esac
    "$kxpack" build "$dir" -o "$scratch/packages/$name.exe" --stub "$stub" $format $with >/dev/null
done
"$kxpack" build "$scratch/src/sample-app" -o "$scratch/packages/sample-app-solid.exe" --stub "$stub" --solid \
    "--uninstaller=$(dirname "$stub")/kxuninst.exe" >/dev/null

# Signed installers, with a certificate made for this run only.
p=$scratch/packages
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/key.pem" -out "$scratch/cert.pem" -days 2 \
    -subj '/CN=KXInstall Test Signer' -addext extendedKeyUsage=codeSigning >/dev/null 2>&1
openssl pkcs12 -export -out "$scratch/test.pfx" -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -passout pass:test
sign() { osslsigncode sign "$@" -pkcs12 "$scratch/test.pfx" -pass test >/dev/null; }
sign -in "$p/sample-app.exe" -out "$p/sample-app-signed.exe"
sign -nest -in "$p/sample-app-signed.exe" -out "$p/sample-app-nested.exe"
sign -in "$p/sample-app-solid.exe" -out "$p/sample-app-solid-signed.exe"

size_of() { stat -c %s "$1"; }
# le64 N: N as 8 little-endian bytes.
le64() {
    n=$1
    for _ in 1 2 3 4 5 6 7 8; do
        printf "\\$(printf %03o $((n % 256)))"
        n=$((n / 256))
    done
}
# byte_at FILE OFFSET / put_byte FILE OFFSET VALUE
byte_at() { od -An -t u1 -j "$2" -N 1 "$1" | tr -d ' '; }
put_byte() { printf "\\$(printf %03o "$3")" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }

good=$p/sample-app.exe
good_size=$(size_of "$good")
archive_length=$(tail -c 8 "$good" | od -An -t u8 | tr -d ' ')
archive_at=$((good_size - 8 - archive_length))
head -c $((good_size - 8)) "$good" | tail -c "$archive_length" >"$scratch/archive.zip"
# Stub, one stray byte, archive, trailer: a length no multiple of 8, so the
# signing tool pads before its table.
stray=X
[ $(((${#stray} + archive_length + 8) % 8)) -ne 0 ] || stray=XX
{ cat "$stub"; printf '%s' "$stray"; cat "$scratch/archive.zip"; le64 "$archive_length"; } >"$scratch/misaligned.exe"
sign -in "$scratch/misaligned.exe" -out "$p/sample-app-signed-misaligned.exe"

# Damaged installers, all made from "intact" (which carries the integrity
# record, as every package kxpack builds).
good=$p/intact.exe
good_size=$(size_of "$good")
archive_length=$(tail -c 8 "$good" | od -An -t u8 | tr -d ' ')
archive_at=$((good_size - 8 - archive_length))
head -c $((good_size / 2)) "$good" >"$p/damaged-half.exe"
head -c $((good_size - 1)) "$good" >"$p/damaged-last-byte.exe"
head -c $((good_size - 4)) "$good" >"$p/damaged-in-trailer.exe"
cp "$good" "$p/damaged-flipped.exe"
at=$((archive_at + archive_length / 3))
put_byte "$p/damaged-flipped.exe" "$at" $((255 - $(byte_at "$good" "$at")))
{ head -c $((good_size - 8)) "$good"; le64 "$good_size"; } >"$p/damaged-trailer-outside.exe"
cp "$good" "$p/damaged-entry-count.exe"
end_record=$((good_size - 8 - 38))
for field in 8 10; do
    put_byte "$p/damaged-entry-count.exe" $((end_record + field)) $(($(byte_at "$good" $((end_record + field))) + 1))
done
{ cat "$stub"; head -c 5000 /dev/urandom; le64 5000; } >"$p/damaged-garbage.exe"
cp "$stub" "$p/damaged-stub-alone.exe"
signed_size=$(size_of "$p/sample-app-signed.exe")
head -c $((signed_size - 100)) "$p/sample-app-signed.exe" >"$p/damaged-signed-cut.exe"
# Damaged solid installers: cut, and a flipped byte in the stream, once with
# the record left as it was and once with a record made to match, which only
# the stream's own checks can find.
good=$p/intact-solid.exe
good_size=$(size_of "$good")
archive_length=$(tail -c 8 "$good" | od -An -t u8 | tr -d ' ')
archive_at=$((good_size - 8 - archive_length))
stream_length=$((archive_length - 16))
head -c $((good_size / 2)) "$good" >"$p/damaged-solid-half.exe"
head -c $((good_size - 1)) "$good" >"$p/damaged-solid-last-byte.exe"
cp "$good" "$p/damaged-solid-flipped.exe"
at=$((archive_at + stream_length / 2))
put_byte "$p/damaged-solid-flipped.exe" "$at" $((255 - $(byte_at "$good" "$at")))
crc=$(head -c $((archive_at + stream_length)) "$p/damaged-solid-flipped.exe" | tail -c "$stream_length" |
    gzip -c | tail -c 8 | od -An -t x4 -N 4 | tr -d ' ' | tr a-f A-F)
{ head -c $((archive_at + stream_length)) "$p/damaged-solid-flipped.exe"; printf 'KXCRC32=%s' "$crc"; le64 "$archive_length"; } \
    >"$p/damaged-solid-forged.exe"

# A package without integrity record whose item data\marked.bin is damaged:
# only the item's own CRC-32 can tell. The record is the end record's
# comment, its last 16 bytes; the comment length goes to 0.
good=$p/damaged-item.exe
good_size=$(size_of "$good")
archive_length=$(tail -c 8 "$good" | od -An -t u8 | tr -d ' ')
at=$(grep -obUa "$marker" "$good" | cut -d: -f1)
if [ "$(printf '%s\n' "$at" | wc -l)" -ne 1 ] || [ -z "$at" ]; then
    echo "run_e2e.sh: the marker of damaged-item.exe is not in it once" >&2
    exit 1
fi
{ head -c $((good_size - 8 - 16)) "$good"; le64 $((archive_length - 16)); } >"$p/item-damaged.exe"
put_byte "$p/item-damaged.exe" $((good_size - 8 - 16 - 2)) 0
put_byte "$p/item-damaged.exe" $((good_size - 8 - 16 - 1)) 0
put_byte "$p/item-damaged.exe" "$at" $((255 - $(byte_at "$good" "$at")))
rm "$good"

for damaged in "$p"/damaged-*.exe; do
    if "$kxpack" verify "$damaged" >/dev/null; then
        echo "run_e2e.sh: $damaged was meant to be damaged" >&2
        exit 1
    fi
done

# The workspace's old fixed name, made a link to a folder of files, as a
# program without rights could make it: no run may follow it.
mkdir -p "$scratch/precious/sub"
echo "not the installer's" >"$scratch/precious/precious.txt"
echo "kept" >"$scratch/precious/sub/kept.txt"
ln -s "$scratch/precious" "$scratch/temp/%KXInstall%"

# Wine shows the Linux root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
KX_E2E_PACKAGES=$(winpath "$scratch/packages")
KX_E2E_TEMP=$(winpath "$scratch/temp")
# The packages' source folders stay, for comparing placed files with them.
KX_E2E_SOURCES=$(winpath "$scratch/src")
# Shortcuts the tests create must not turn into menu entries of the Linux desktop.
KX_DLLOVERRIDES=winemenubuilder.exe=d
export KX_E2E_PACKAGES KX_E2E_TEMP KX_E2E_SOURCES KX_DLLOVERRIDES

# Two small drives for the tests that need them: K: fills up, L: is
# read-only. Mounting needs root (as in CI); elsewhere those tests skip.
if [ "$(id -u)" -eq 0 ]; then
    prefix=$("$root/tools/wine-run" --prefix)
    mkdir "$scratch/full" "$scratch/readonly"
    if mount -t tmpfs -o size=8m kx-e2e-full "$scratch/full"; then
        mounts="$scratch/full"
        if mount -t tmpfs -o ro,size=8m kx-e2e-readonly "$scratch/readonly"; then
            mounts="$mounts $scratch/readonly"
            ln -sfn "$scratch/full" "$prefix/dosdevices/k:"
            ln -sfn "$scratch/readonly" "$prefix/dosdevices/l:"
            drives="$prefix/dosdevices/k: $prefix/dosdevices/l:"
            KX_E2E_FULL_DRIVE=K:
            KX_E2E_READONLY_DRIVE=L:
            export KX_E2E_FULL_DRIVE KX_E2E_READONLY_DRIVE
        fi
    fi
fi

status=0
KX_DISPLAY=1 "$root/tools/wine-run" "$tests" "$@" || status=$?
exit "$status"
