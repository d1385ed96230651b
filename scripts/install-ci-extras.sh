#!/usr/bin/env bash
# What CI needs beyond scripts/install-deps.sh: the Windows cross compilers
# (32-bit, the home platform, and 64-bit), wine for both, Debian's multilib
# compilers and qemu's user-mode emulator for the 32-bit Linux build (run
# where the kernel cannot run 32-bit code itself), and clang's fuzzing
# runtime. wine32 lives in the i386 architecture, which is added first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)

packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  g++-multilib qemu-user-static
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
