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

started=$SECONDS
wineboot -i >/dev/null 2>&1
echo "wine prefix ready in $((SECONDS - started)) s"

# One test process per executable; the export check is already done.
ctest --test-dir build-win32 --output-on-failure --timeout 2400 -E dll_export_table
