#!/usr/bin/env bash
# Checks a cross-built vosh_occlusion.dll: its export table names exactly the
# five entry points, undecorated, and it imports only from system DLLs (no
# toolchain runtime that a bare Windows lacks).
set -euo pipefail
dll="${1:?usage: check-dll-exports.sh path/to/vosh_occlusion.dll}"
objdump="${OBJDUMP:-i686-w64-mingw32-objdump}"
dump="$("$objdump" -p "$dll")"

# The name table follows its heading, one "[ n] name" line per export.
exports="$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                on && /^[[:space:]]*\[/ {print $NF; next}
                on {exit}' <<<"$dump" | sort)"
expected="$(printf '%s\n' miSetModuleHandle vosh_occlusion vosh_occlusion_exit \
                           vosh_occlusion_init vosh_occlusion_version)"
status=0
if [[ "$exports" != "$expected" ]]; then
    echo "FAIL: $dll exports:"; sed 's/^/  /' <<<"$exports"
    echo "expected:"; sed 's/^/  /' <<<"$expected"
    status=1
fi

imports="$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump" | sort -u)"
while read -r name; do
    case "$name" in
        kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ntdll.dll) ;;
        *) echo "FAIL: $dll imports $name"; status=1 ;;
    esac
done <<<"$imports"

if ((status == 0)); then
    echo "ok: $dll exports $(tr '\n' ' ' <<<"$exports")and imports only $(tr '\n' ' ' <<<"$imports")"
fi
exit $status
