#!/usr/bin/env bash
# Cross-builds the 32-bit Windows plug-in qsexp.dle, the command qsxexport.exe
# and their tests into build-windows/ (or the folder given), with MinGW-w64.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
shift || true
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/scripts/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j2
