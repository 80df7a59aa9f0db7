#!/usr/bin/env bash
# The main job: set up, build, and export the bundled example scene.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build -DQSX_TESTS=OFF -DQSX_BENCH=OFF
mkdir -p out
export XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-$PWD/out/config}"
./build/qsxexport --batch --header --animation -v examples/robot.json out/robot.QSX
echo "written:"; ls -l out/robot.*
