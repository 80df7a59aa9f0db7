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
  libosmesa6-dev libpng-dev libstb-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
