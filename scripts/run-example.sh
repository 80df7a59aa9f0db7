#!/usr/bin/env bash
# The main job: set up, build, and export the bundled example scene.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Every option is set, so that whatever another script left in build/ does not carry over.
bash scripts/build.sh build -DQSX_TESTS=OFF -DQSX_BENCH=OFF -DQSX_SANITIZE=OFF -DQSX_FUZZ=OFF
mkdir -p out
export XDG_CONFIG_HOME="${XDG_CONFIG_HOME:-$PWD/out/config}"
./build/qsxexport --batch --header --animation -v examples/robot.json out/robot.QSX
echo "written:"; ls -l out/robot.*
