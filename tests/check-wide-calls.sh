#!/bin/sh
# Fails when the program imports an ANSI ("...A") function of the system. Our
# code calls the wide ones only; the few the static C and C++ runtime use
# for itself (thread primitives, its own error texts and debug output,
# libgcc's unwinder lookup) carry no text of ours and are listed here.
#
#   check-wide-calls.sh STUB.exe
set -eu
stub=$1
case "$(od -An -tx1 -j 0 -N 2 "$stub" | tr -d ' ')" in
4d5a) ;;
*) echo "check-wide-calls.sh: $stub is no Windows program" >&2; exit 2 ;;
esac
runtime="CreateEventA CreateSemaphoreA FormatMessageA GetModuleHandleA LoadLibraryA OutputDebugStringA"
imports=$(objdump -p "$stub" | awk '/^\tDLL Name:/ {dll=1; next} dll && NF==3 && $1 ~ /^[0-9a-f]+$/ {print $3}')
[ -n "$imports" ] || { echo "check-wide-calls.sh: no imports read from $stub" >&2; exit 2; }
found=0
for name in $imports; do
    case "$name" in
    *[a-z0-9]A) ;;
    *) continue ;;
    esac
    case " $runtime " in
    *" $name "*) continue ;;
    esac
    echo "ANSI call in $stub: $name" >&2
    found=1
done
exit "$found"
