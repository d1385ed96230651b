#!/usr/bin/env bash
# The module on its home platform, 32-bit Windows, and two stand-ins for it
# that run whatever the kernel supports:
#   win32    the i686 DLL and test programs under 32-bit wine; only where
#            the kernel runs 32-bit code natively (under emulation wine is
#            far too slow and crashes on its threads)
#   win64    the x86_64 DLL and test programs under 64-bit wine: the
#            Windows binding (GetProcAddress, GetLastError, DllMain) and
#            the export table
#   linux32  the module and test programs built with g++ -m32 and run under
#            qemu-i386: 4-byte pointers, the i386 calling convention and
#            the home platform's record layout
# The i686 DLL is cross-built and its export table checked on every machine.
# Every test program of a path runs, one wine or qemu call each; any failure
# fails the script. VOSH_WINDOWS_PATHS="win64 linux32" picks paths (default:
# every path that can run here). With VOSH_TEST_SUMMARY=FILE one line per
# test program and path is appended to FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

note() {
    echo "$*"
    if [[ -n "${VOSH_TEST_SUMMARY:-}" ]]; then echo "$*" >>"$VOSH_TEST_SUMMARY"; fi
}

scratch="$(mktemp -d "${TMPDIR:-/tmp}/vosh-windows.XXXXXX")"
prefixes=()
cleanup() {
    for p in "${prefixes[@]}"; do WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT

# Can the kernel run a 32-bit program itself? A binfmt_misc entry that hands
# i386 programs to qemu would make one run emulated, so that counts as no.
native32=0
printf '#include <stdio.h>\nint main(void) { printf("%%d\\n", (int)sizeof(void*)); return 0; }\n' \
    >"$scratch/probe.c"
if ! gcc -m32 -static "$scratch/probe.c" -o "$scratch/probe32" 2>"$scratch/probe.err"; then
    cat "$scratch/probe.err"
    echo "FAIL: cannot build a 32-bit program (run scripts/install-ci-extras.sh for the multilib compilers)"
    exit 1
fi
emulator_entry="$(grep -ls 'interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/* 2>/dev/null | head -1 || true)"
if [[ -n "$emulator_entry" ]] && grep -qx enabled "$emulator_entry"; then
    note "32-bit code: runs only through qemu here (binfmt_misc entry $emulator_entry)"
elif [[ "$("$scratch/probe32" 2>"$scratch/probe.err")" == 4 ]]; then
    native32=1
    note "32-bit code: runs natively here (a gcc -m32 -static program ran)"
else
    why="$(tail -1 "$scratch/probe.err")"
    note "32-bit code: does not run natively here (a gcc -m32 -static program: ${why##*probe32: })"
fi

paths="${VOSH_WINDOWS_PATHS:-}"
if [[ -z "$paths" ]]; then
    paths="win64 linux32"
    ((native32)) && paths="win32 $paths"
fi
if [[ " $paths " == *" win32 "* ]] && ((!native32)); then
    echo "FAIL: win32 needs a kernel that runs 32-bit code natively" >&2
    exit 1
fi
note "paths: $paths"

status=0

# Runs one GoogleTest program and reports how many of its tests ran and passed.
run_tests() {
    local label="$1" log="$2"
    shift 2
    local started=$SECONDS exit_status=0
    "$@" >"$log" 2>&1 || exit_status=$?
    local ran passed failed
    ran="$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log" | tail -1)"
    passed="$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -1)"
    failed="$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below:.*/\1/p' "$log" | tail -1)"
    local line="$label: ${ran:-0} ran, ${passed:-0} passed, ${failed:-0} failed in $((SECONDS - started)) s"
    if ((exit_status != 0)) || [[ -z "$ran" || "$ran" == 0 || "$passed" != "$ran" ]]; then
        grep -E '^\[  FAILED  \]|Failure$' "$log" | head -40 || true
        echo "--- last lines of $log"
        tail -20 "$log"
        line="FAIL $line (exit status $exit_status)"
        status=1
    fi
    note "$line"
}

# A fresh wine prefix, set up and idle before the first test program starts.
new_prefix() {
    local loader="$1" arch="$2"
    WINEPREFIX="$(mktemp -d "$scratch/wine-$arch.XXXXXX")"
    prefixes+=("$WINEPREFIX")
    # wineserver keeps its socket in a folder under TMPDIR and leaves it.
    export WINEPREFIX WINEARCH="$arch" WINEDEBUG=-all TMPDIR="$scratch"
    # No .NET or HTML engine installers, and no desktop integration.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    local started=$SECONDS
    "$loader" wineboot -i >"$WINEPREFIX.log" 2>&1 || { cat "$WINEPREFIX.log"; return 1; }
    wineserver -w
    echo "wine prefix ($arch) ready in $((SECONDS - started)) s"
}

# The home platform's DLL, on every machine; its tests only under win32.
started=$SECONDS
cmake --preset windows-i686 >/dev/null
if [[ " $paths " == *" win32 "* ]]; then
    cmake --build --preset windows-i686 -j2
else
    cmake --build --preset windows-i686 -j2 --target vosh_occlusion
fi
scripts/check-dll-exports.sh build-win32/vosh_occlusion.dll
note "i686 DLL: cross-built, export table checked in $((SECONDS - started)) s"

for path in $paths; do
    started=$SECONDS
    echo
    echo "--- $path"
    case "$path" in
    win32)
        new_prefix wine win32
        for program in unit_tests module_tests; do
            run_tests "win32 $program.exe (wine, i686)" "build-win32/$program.log" \
                bash -c "cd build-win32 && wine tests/$program.exe"
        done
        ;;
    win64)
        cmake --preset windows-x86_64 >/dev/null
        cmake --build --preset windows-x86_64 -j2
        OBJDUMP=x86_64-w64-mingw32-objdump scripts/check-dll-exports.sh build-win64/vosh_occlusion.dll
        # wine64 directly: Debian's wine command starts the 32-bit loader
        # first, which cannot run where 32-bit code does not.
        export WINELOADER=/usr/lib/wine/wine64
        new_prefix "$WINELOADER" win64
        for program in unit_tests module_tests; do
            run_tests "win64 $program.exe (wine64, x86_64)" "build-win64/$program.log" \
                bash -c "cd build-win64 && $WINELOADER tests/$program.exe"
        done
        unset WINELOADER
        ;;
    linux32)
        cmake --preset linux-i686 >/dev/null
        cmake --build --preset linux-i686 -j2
        for program in unit_tests module_tests; do
            run_tests "linux32 $program (qemu-i386, g++ -m32)" "build-linux32/$program.log" \
                bash -c "cd build-linux32 && qemu-i386-static tests/$program"
        done
        ;;
    *)
        echo "FAIL: unknown path \"$path\" (known: win32 win64 linux32)"
        status=1
        continue
        ;;
    esac
    note "$path: took $((SECONDS - started)) s"
done
exit $status
