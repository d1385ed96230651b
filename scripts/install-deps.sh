#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, only when some are missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang lld libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libembree-dev libtbb-dev libassimp-dev libopenexr-dev libpng-dev
  nlohmann-json3-dev libcli11-dev
  openmpi-bin libopenmpi-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
