#!/bin/sh
# Fails when a file under src/ includes a header of a layer above its own.
# A folder may include its own headers and those of any lower layer; folders
# that share a layer (the uninstaller, the installer's state, its resources)
# may not include one another, so the uninstaller takes nothing from the
# installer's program folders.
#
#   check-layers.sh SRC_FOLDER
set -eu
src=${1:?usage: check-layers.sh SRC_FOLDER}
[ -d "$src" ] || { echo "check-layers.sh: no folder $src" >&2; exit 2; }

rank() {
    case "$1" in
    platform) echo 0 ;;
    text) echo 1 ;;
    archive) echo 2 ;;
    control) echo 3 ;;
    common) echo 4 ;;
    state | resources | uninstall) echo 5 ;;
    install) echo 6 ;;
    wizard) echo 7 ;;
    startup) echo 8 ;;
    *) echo "" ;;
    esac
}

found=0
checked=0
for file in $(cd "$src" && find . -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.rc' \) | sed 's|^\./||' | sort); do
    from=${file%%/*}
    from_rank=$(rank "$from")
    if [ -z "$from_rank" ]; then
        [ "$from" = "$file" ] && continue  # a file at the top, such as CMakeLists.txt
        echo "check-layers.sh: folder $from has no layer" >&2
        found=1
        continue
    fi
    for header in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$src/$file"); do
        case "$header" in
        */*) ;;
        *) continue ;;  # beside the file itself
        esac
        to=${header%%/*}
        to_rank=$(rank "$to")
        checked=$((checked + 1))
        if [ -z "$to_rank" ]; then
            echo "$file includes $header, of no layer" >&2
            found=1
        elif [ "$to" != "$from" ] && [ "$to_rank" -ge "$from_rank" ]; then
            echo "$file ($from) includes $header ($to), which is not below it" >&2
            found=1
        fi
    done
done
[ "$checked" -gt 0 ] || { echo "check-layers.sh: no include read under $src" >&2; exit 2; }
exit "$found"
