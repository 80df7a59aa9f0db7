#!/usr/bin/env bash
# By hand, not in CI (minutes and gigabytes): a JSON scene of about 516 MB
# exported by the Linux command and by the 32-bit qsxexport.exe under Wine,
# the files compared byte for byte, with each run's time and peak memory (the
# Windows process's own figures, read by qsx_peak_memory.exe: time -v on wine
# would count only Wine's launcher).
#   scripts/big-scene-windows.sh LINUX_BUILD WINDOWS_BUILD [SCALE] [WORK_DIR]
# LINUX_BUILD has qsxexport and bench/qsx_gen_scene (-DQSX_BENCH=ON);
# WINDOWS_BUILD has qsxexport.exe and qsx_peak_memory.exe (-DQSX_TESTS=ON).
# SCALE is the heavy scene's (4: 1024 nodes, 4.2 million vertices, 516 MB).
set -euo pipefail
linux=${1:?LINUX_BUILD}
win=${2:?WINDOWS_BUILD}
scale=${3:-4}
work=${4:-$(mktemp -d)}
mkdir -p "$work/l" "$work/w"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot -i >/dev/null 2>&1
wineserver -w

scene=$work/heavy-x$scale.json
[ -s "$scene" ] || "$linux/bench/qsx_gen_scene" heavy --scale "$scale" --json "$scene"
echo "scene: $(stat -L -c %s "$scene") bytes"
flags=(--batch --header --animation --hierarchy preserve)

echo "Linux:"
XDG_CONFIG_HOME="$work/cfg" /usr/bin/time -f "  user %U s, system %S s, wall %e s, peak resident %M KB" \
  "$linux/qsxexport" "${flags[@]}" "$scene" "$work/l/big.QSX"
echo "Windows (Wine):"
rc=0
wine "$win/qsx_peak_memory.exe" "$(winepath -w "$win/qsxexport.exe")" "${flags[@]}" \
  "$(winepath -w "$scene")" "$(winepath -w "$work/w/big.QSX")" 2>&1 | tr -d '\r' | sed 's/^/  /' || rc=$?
[ "$rc" -eq 0 ] || { echo "qsxexport.exe failed (exit $rc)"; exit 1; }
for f in "$work"/l/*; do
  cmp "$f" "$work/w/$(basename "$f")" || { echo "DIFFER: $(basename "$f")"; exit 1; }
done
echo "the same bytes: $(ls "$work/l" | tr '\n' ' ')($(du -cb "$work"/l/* | tail -1 | cut -f1) bytes)"
