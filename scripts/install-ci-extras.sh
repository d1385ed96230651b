#!/usr/bin/env bash
# What CI needs beyond scripts/install-deps.sh: the 32-bit Windows cross
# compiler, wine to run its tests, and clang's fuzzing runtime. wine32 lives
# in the i386 architecture, which is added first. Where the kernel cannot
# run 32-bit programs itself (some virtual machines), 32-bit ELF programs
# are handed to qemu's user-mode emulator through binfmt_misc.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)

packages=(
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 qemu-user-static
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

# Can this machine run a 32-bit program? wine32's own loader is one.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  mountpoint -q "$binfmt" || "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$binfmt"
  if [[ ! -e "$binfmt/qemu-i386" ]]; then
    # i386 ELF executables and shared objects, run by the static emulator;
    # F opens the interpreter now, so it works inside any mount namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      "${sudo_cmd[@]}" tee "$binfmt/register" >/dev/null
  fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 || { echo "cannot run 32-bit programs here" >&2; exit 1; }
  echo "32-bit programs run through qemu-i386 (user-mode emulation)"
fi
