#!/usr/bin/env bash
# One command: install what is missing, build, render the demo scene to occlusion.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
(cd "$root" && cmake --preset default >/dev/null)
cmake --build "$root/build" --target vosh-render vosh_occlusion
exec "$root/build/vosh-render" "$@"
