#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, and only
# what is missing.  Safe to run again.  Needs root (or sudo) when something is
# missing; prints what it installs.
#   --no-wine   skip Wine and Xvfb (the Linux build and its tests need neither)
set -euo pipefail

want_wine=1
for arg in "$@"; do
  case "$arg" in
    --no-wine) want_wine=0 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "install-deps: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then sudo_cmd=(sudo); else
    echo "install-deps: not root and no sudo; install the packages listed below by hand" >&2
  fi
fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in cmake make g++ clang libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 bc; do
  have_pkg "$p" || need+=("$p")
done
# libFuzzer and the sanitizer runtimes of the default clang (fuzz/run.sh).
clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1)
clang_rt="libclang-rt-${clang_major:-14}-dev"
have_pkg "$clang_rt" || need+=("$clang_rt")

add_i386=0
if [ "$want_wine" = 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then add_i386=1; fi
  # wine64 and the 64-bit cross compiler: on kernels that cannot run 32-bit
  # programs (no IA32 emulation) the Wine tests run a 64-bit build of the
  # same sources (preset wine64); wine32 is installed for kernels that can.
  for p in wine wine64 xvfb x11-utils g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64; do
    have_pkg "$p" || need+=("$p")
  done
  have_pkg wine32:i386 || need+=("wine32:i386")
fi

if [ "${#need[@]}" -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${need[*]}"
if [ "$add_i386" = 1 ]; then "${sudo_cmd[@]}" dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
echo "install-deps: done"
