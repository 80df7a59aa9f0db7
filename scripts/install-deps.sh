#!/usr/bin/env bash
# Installs what building and testing qsxexport needs, from Debian 12's packages.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  rapidjson-dev libassimp-dev assimp-utils
  libfinal-dev libgpm-dev
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  tmux hyperfine locales
  # The preview (Linux only): offscreen OpenGL, PNG, image reading.
  libosmesa6-dev libpng-dev libstb-dev
  # The Windows build and its tests under Wine (wine32 is an i386 package).
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest
  wine wine32:i386 xvfb xauth x11-apps netpbm
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
