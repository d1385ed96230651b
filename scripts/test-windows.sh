#!/usr/bin/env bash
# The module on its home platform: cross-builds vosh_occlusion.dll and the
# test programs with the windows-i686 preset, checks the DLL's export table,
# then runs the unit and module tests under wine in a throw-away prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset windows-i686 >/dev/null
cmake --build --preset windows-i686 -j2

scripts/check-dll-exports.sh build-win32/vosh_occlusion.dll

WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/vosh-wine.XXXXXX")"
export WINEPREFIX WINEDEBUG=-all
# No .NET or HTML engine installers, and no desktop integration.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

emulated=0
[[ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]] && emulated=1
if ((emulated)); then
    # This kernel cannot run 32-bit code, so wine itself runs on qemu's
    # user-mode emulator (see install-ci-extras.sh). That emulator does not
    # survive wine's threads, so the tests that shade from several threads
    # are left to the native and sanitizer builds.
    export GTEST_FILTER='-*Concurrent*'
    echo "wine runs emulated: leaving out $GTEST_FILTER"
fi

# One wine session for everything: setting up the prefix and starting the
# session's services is slow under emulation and should happen once.
started=$SECONDS
wineserver -p
# Under emulation the set-up can outlast wine's own wait for it; the first
# program then gives up while the set-up goes on, so wait for that to end.
wine wineboot -i >/dev/null 2>&1 || true
while pgrep -f 'wineboot.exe --init' >/dev/null; do sleep 5; done
echo "wine prefix ready in $((SECONDS - started)) s"

# One test process per executable; the export table was checked above.
ctest --test-dir build-win32 --output-on-failure --timeout 2400 -E dll_export_table
