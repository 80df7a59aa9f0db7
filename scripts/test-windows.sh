#!/usr/bin/env bash
# The Windows build and its tests under Wine: the cross-built test program
# (the real dialog on a private Xvfb display), the C host calling by place,
# qsxexport.exe against the Linux command on the bundled JSON examples and on random scenes, the settings
# in the registry against the Linux settings file, and a screenshot of the real dialog.
#   scripts/test-windows.sh [LINUX_QSXEXPORT]   (default: build-test/qsxexport)
# QSX_SCREENSHOT=FILE.png keeps the screenshot there.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build-test/qsxexport}
werror=${QSX_WERROR:-OFF}
bash scripts/build-windows.sh build-windows -DQSX_TESTS=ON -DQSX_WERROR="$werror"
win=build-windows

tmp=$(mktemp -d)
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and tells it.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$tmp/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"

wineboot -i >/dev/null 2>&1
wineserver -w

fail=0
check() { # what, then the command
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}

wine "$win/qsx_windows_tests.exe" --gtest_brief=1 || fail=1
check "the C host's calls by place" env -u DISPLAY wine "$win/qsx_places_test.exe" "$(winepath -w "$win/qsexp.dle")"

# The options the OK of the dialog test stored, as the registry's own tool
# shows them; a batch run in between stores nothing.
key='HKEY_CURRENT_USER\Software\Dunmarrow\Quorvantis 3dsMax Exporter'
wine "$win/qsxexport.exe" --batch --scale-by 9 --ext tga examples/robot.json "$tmp/batch.QSX"
wine reg query "$key" | tr -d '\r' >"$tmp/query.txt" || true
check "reg query shows the stored options" \
  grep -Eq '^ +Scale factor +REG_SZ +2\.5000$' "$tmp/query.txt"
check "reg query shows the extension" grep -Eq '^ +Ext Name +REG_SZ +JPG$' "$tmp/query.txt"
# Both texts take their whole 512-byte field: the registry file shows zeros up to its end.
wineserver -w
zeros() { grep "^\"$1\"=" "$WINEPREFIX/user.reg" | grep -o '\\0' | wc -l; }
check "the registry holds both texts as 512-byte values" \
  test "$(zeros 'Scale factor')" -eq $((511 - 6)) -a "$(zeros 'Ext Name')" -eq $((511 - 3))

# The Windows command against the Linux one, on every example, hierarchy mode
# and side file; both start from no stored options.
wine reg delete "$key" /f >/dev/null 2>&1 || true
for scene in examples/*.json; do
  for mode in preserve single multiple separate; do
    flags=(--batch --header --animation --hierarchy "$mode" --hints editable --lit --ext png)
    mkdir -p "$tmp/l-$mode" "$tmp/w-$mode"
    name=$(basename "$scene" .json)
    XDG_CONFIG_HOME="$tmp/cfg-compare" "$linux" "${flags[@]}" "$scene" "$tmp/l-$mode/$name.QSX"
    wine "$win/qsxexport.exe" "${flags[@]}" "$scene" "$tmp/w-$mode/$name.QSX"
  done
done
check "qsxexport.exe writes what the Linux command writes ($(find "$tmp"/w-* -type f | wc -l) files)" \
  bash -c 'for d in "$1"/l-*; do diff -r "$d" "${d/\/l-/\/w-}" || exit 1; done' _ "$tmp"

# Random scenes, each with its own random flags: the same files to the byte, the same exit status and
# messages. QSX_RANDOM_SCENES=300 (and QSX_RANDOM_SEED) for a long run by hand.
count=${QSX_RANDOM_SCENES:-40}
seed=${QSX_RANDOM_SEED:-1}
mkdir -p "$tmp/random"
wine "$win/qsx_random_scenes.exe" "$seed" "$count" "$(winepath -w "$tmp/random")"
random_failed=()
for ((n = seed; n < seed + count; ++n)); do
  mapfile -t args <"$tmp/random/scene$n.args"
  mkdir -p "$tmp/rl/$n" "$tmp/rw/$n"
  rc=0
  XDG_CONFIG_HOME="$tmp/cfg-random" "$linux" "${args[@]}" "$tmp/random/scene$n.json" "$tmp/rl/$n/s.QSX" \
    2>"$tmp/rl/$n.err" || rc=$?
  echo "exit $rc" >>"$tmp/rl/$n.err"
  rc=0
  wine "$win/qsxexport.exe" "${args[@]}" "$tmp/random/scene$n.json" "$tmp/rw/$n/s.QSX" 2>"$tmp/rw/$n.raw" || rc=$?
  { tr -d '\r' <"$tmp/rw/$n.raw" | sed "s|$tmp/rw/|$tmp/rl/|g"; echo "exit $rc"; } >"$tmp/rw/$n.err"
  rm "$tmp/rw/$n.raw"
  diff -r "$tmp/rl/$n" "$tmp/rw/$n" >/dev/null && cmp -s "$tmp/rl/$n.err" "$tmp/rw/$n.err" || random_failed+=("$n")
done
check "qsxexport.exe on $count random scenes (seed $seed): $(find "$tmp/rw" -mindepth 2 -type f | wc -l) files, \
status and messages as the Linux command's${random_failed[*]:+; differ: ${random_failed[*]}}" test ${#random_failed[@]} -eq 0

# A scene larger than 32 bits can hold (2.5 GB, sparse: no disk taken) is read a piece at a time, and
# refused naming the file, not a crash: its run of zero bytes has nowhere to be cut, so it would be held whole.
printf '{"qsxScene": 1}' >"$tmp/huge.json" && truncate -s 2500M "$tmp/huge.json"
rc=0
wine "$win/qsxexport.exe" --batch "$tmp/huge.json" "$tmp/huge.QSX" 2>"$tmp/huge.err" || rc=$?
check "a scene too large for 32 bits: exit 1 and says so" test "$rc" = 1 -a "$(tr -d '\r' <"$tmp/huge.err")" = \
  "qsxexport: $tmp/huge.json: out of memory: the scene does not fit in the memory a 32-bit program can address"
rm "$tmp/huge.json"

# The same options stored by both: the registry key, exported, against the Linux settings file.
store=(--batch --save-defaults --scale-by 0.12345 --no-centre --hierarchy separate --hints hidden-surface
       --foreshorten --filter --ext tga --header)
wine reg delete "$key" /f >/dev/null 2>&1 || true
XDG_CONFIG_HOME="$tmp/cfg-store" "$linux" "${store[@]}" examples/robot.json "$tmp/l-store.QSX"
wine "$win/qsxexport.exe" "${store[@]}" examples/robot.json "$tmp/w-store.QSX"
wine regedit /E "$tmp/exported.reg" "$key"
values() { iconv -f "$1" -t UTF-8 "$2" | tr -d '\r' | sed -n '/^\[/p;/^"/p' | sort; }
values UTF-16 "$tmp/exported.reg" >"$tmp/windows-values"
values UTF-8 "$tmp/cfg-store/qsxexport/settings.reg" >"$tmp/linux-values"
check "the registry holds what the Linux settings file holds ($(grep -c '^"' "$tmp/windows-values") values)" \
  diff "$tmp/linux-values" "$tmp/windows-values"

# A scene member the reader does not know and a stored value the dialog would
# refuse: qsxexport.exe says so as the Linux command does, and exports.
sed '0,/"qsxScene"/s//"Keys": [], "qsxScene"/' examples/robot.json >"$tmp/keys.json"
wine reg add "$key" /v "Scale factor" /t REG_SZ /d 0 /f >/dev/null
rc=0
wine "$win/qsxexport.exe" --batch --hierarchy preserve "$tmp/keys.json" "$tmp/keys.QSX" 2>"$tmp/keys.err" || rc=$?
tr -d '\r' <"$tmp/keys.err" >"$tmp/keys.txt"
check "qsxexport.exe says the JSON reader's warnings" \
  grep -qxF "qsxexport: $tmp/keys.json: document: unknown member \"Keys\" ignored" "$tmp/keys.txt"
check "qsxexport.exe uses the default for a stored value the dialog refuses" \
  grep -qxF "qsxexport: $key: stored \"Scale factor\" \"0\" is not a number above 0; the default 1.0000 is used" \
  "$tmp/keys.txt"
check "qsxexport.exe exports despite the refused stored value" test "$rc" -eq 0 -a -s "$tmp/keys.QSX"

# What both commands do alike: --check, --info, a script as SCENE, the
# importer's settings with a JSON scene (a warning); the same output, messages
# and exit status.
mkdir -p "$tmp/same"
wine reg delete "$key" /f >/dev/null 2>&1 || true
XDG_CONFIG_HOME="$tmp/cfg-same" "$linux" --batch --header --animation examples/robot.json "$tmp/same/robot.QSX"
same=(
  "--check $tmp/same/robot.QSX"
  "--info examples/robot.json"
  "--info --json $tmp/same/robot.QSX"
  "--batch --up-axis z --fps 25 examples/robot.json $tmp/same/OUT.QSX"
  "--batch --hierarchy separate $tmp/same/robot.QSX $tmp/same/OUT.QSX"
)
for line in "${same[@]}"; do
  read -ra args <<<"$line"
  rc=0
  XDG_CONFIG_HOME="$tmp/cfg-same" "$linux" "${args[@]//OUT/l}" >"$tmp/linux.out" 2>"$tmp/linux.err" || rc=$?
  echo "exit $rc" >>"$tmp/linux.out"
  rc=0
  wine "$win/qsxexport.exe" "${args[@]//OUT/w}" 2>"$tmp/windows.err" | tr -d '\r' >"$tmp/windows.out" || rc=$?
  echo "exit $rc" >>"$tmp/windows.out"
  check "qsxexport.exe $line: as the Linux command" \
    bash -c 'diff "$1/linux.out" "$1/windows.out" && tr -d "\r" <"$1/windows.err" | sed "s|/same/w|/same/l|g" |
             diff "$1/linux.err" -' _ "$tmp"
done
check "a script exported again: the same files" \
  bash -c 'for f in "$1"/same/l*.QSX; do cmp "$f" "${f/\/l/\/w}" || exit 1; done' _ "$tmp"

# Destinations the Windows command refuses or writes its own way, each with
# its exit status and message: a read-only file stays as it was, a device name
# is named, a symbolic link is written at its target and stays a link.
mkdir -p "$tmp/dest"
wine reg delete "$key" /f >/dev/null 2>&1 || true
printf 'old\n' >"$tmp/dest/ro.QSX" && chmod a-w "$tmp/dest/ro.QSX"
printf 'old\n' >"$tmp/dest/target.QSX" && ln -s target.QSX "$tmp/dest/link.QSX"
dests=(
  "ro.QSX|1|qsxexport: $tmp/dest/ro.QSX: not written: Access denied; the earlier file is unchanged"
  "NUL|2|qsxexport: NUL: the script NUL is the device NUL, not a file; nothing written"
  "aux.QSX|2|qsxexport: aux.QSX: the script aux.QSX is the device AUX, not a file; nothing written"
  "com1|2|qsxexport: com1: the script com1 is the device COM1, not a file; nothing written"
  "link.QSX|0|"
)
for d in "${dests[@]}"; do
  IFS='|' read -r name want message <<<"$d"
  out=$name
  case $name in *.QSX) [ "$name" = aux.QSX ] || out=$tmp/dest/$name ;; esac
  rc=0
  (cd "$tmp/dest" && wine "$OLDPWD/$win/qsxexport.exe" --batch "$OLDPWD/examples/robot.json" "$out") \
    2>"$tmp/dest.err" >/dev/null || rc=$?
  check "qsxexport.exe to $name: exit $want and says so" \
    test "$rc" = "$want" -a "$(tr -d '\r' <"$tmp/dest.err")" = "$message"
done
check "read-only file unchanged" test "$(cat "$tmp/dest/ro.QSX")" = old
XDG_CONFIG_HOME="$tmp/cfg-dest" "$linux" --batch examples/robot.json "$tmp/robot-defaults.QSX"
check "link written at its target and still a link" \
  bash -c 'test -L "$1/dest/link.QSX" && cmp "$1/dest/target.QSX" "$1/robot-defaults.QSX"' _ "$tmp"
check "no temporary left" test -z "$(find "$tmp/dest" -name '*.partial-*')"
rc=0
wine "$win/qsxexport.exe" --preview x.png examples/robot.json "$tmp/x.QSX" 2>"$tmp/preview.err" || rc=$?
check "--preview: not in this build" test "$rc" = 2 -a "$(tr -d '\r' <"$tmp/preview.err")" = \
  "qsxexport: option --preview is not in this build: the preview is drawn on Linux only"

# The real dialog of qsxexport.exe on the display, as a first use shows it,
# photographed; nothing is exported.
wine reg delete "$key" /f >/dev/null 2>&1 || true
wine "$win/qsxexport.exe" examples/robot.json 'C:\scenes\robot.QSX' >/dev/null 2>&1 &
exe_pid=$!
shot=""
for _ in $(seq 300); do
  if xwd -silent -name "Quorvantis Export Options" -out "$tmp/dialog.xwd" 2>/dev/null; then shot=1; break; fi
  sleep 0.1
done
kill "$exe_pid" 2>/dev/null || true
wait "$exe_pid" 2>/dev/null || true
if [ -n "$shot" ]; then
  xwdtopnm "$tmp/dialog.xwd" 2>/dev/null | pnmtopng >"$tmp/dialog.png" 2>/dev/null
  check "screenshot of the real dialog" test -s "$tmp/dialog.png"
  [ -n "${QSX_SCREENSHOT:-}" ] && cp "$tmp/dialog.png" "$QSX_SCREENSHOT"
else
  check "screenshot of the real dialog" false
fi


# --- Ctrl-C and the console ---
# Wine turns a SIGINT to the process running qsxexport.exe into the console's
# CTRL_C_EVENT, as a Ctrl-C at a console window is.
mkdir -p "$tmp/int"
wine reg delete "$key" /f >/dev/null 2>&1 || true
# Interrupted while the script is being written: nothing of the run is left,
# the earlier files are as they were.
awk -v n=300000 'BEGIN {
  printf "{\"qsxScene\":1,\"nodes\":[{\"name\":\"Big\",\"object\":{\"mesh\":{\"vertices\":["
  for (i = 0; i < n; i++) printf "%s[%d,%d.5,%d.25]", (i ? "," : ""), i % 1000, int(i / 1000), i % 7
  printf "],\"faces\":["
  for (i = 0; i + 2 < n; i++) printf "%s[%d,%d,%d]", (i ? "," : ""), i, i + 1, i + 2
  printf "]}}}]}\n" }' >"$tmp/int/big.json"
# A node a file (the separate hierarchy): the run puts hundreds of files in place one by one at its end.
awk -v n=600 'BEGIN {
  printf "{\"qsxScene\":1,\"nodes\":["
  for (i = 0; i < n; i++)
    printf "%s{\"name\":\"N%d\",\"object\":{\"mesh\":{\"vertices\":[[0,0,0],[1,0,0],[0,1,0]],\"faces\":[[0,1,2]]}}}", (i ? "," : ""), i
  printf "]}\n" }' >"$tmp/int/many.json"
interrupt() { # folder, the name of a file in it to wait for (a pattern), then the command's arguments
  local dir=$1 until=$2 rc=0 pid; shift 2
  wine "$win/qsxexport.exe" "$@" >/dev/null 2>"$tmp/int/err" &
  pid=$!
  for _ in $(seq 6000); do [ -n "$(find "$dir" -name "$until" -print -quit)" ] && break; sleep 0.01; done
  kill -INT "$pid"
  wait "$pid" || rc=$?
  tr -d '\r' <"$tmp/int/err" >"$tmp/int/said"
  echo "$rc"
}
mkdir -p "$tmp/int/a"
printf 'earlier script\n' >"$tmp/int/a/big.QSX"
printf 'earlier header\n' >"$tmp/int/a/big.qsh"
rc=$(interrupt "$tmp/int/a" "big.QSX.partial-*" --batch --header "$tmp/int/big.json" "$tmp/int/a/big.QSX")
check "Ctrl-C while writing: exit 130, says nothing was written" \
  test "$rc" = 130 -a "$(cat "$tmp/int/said")" = "qsxexport: interrupted; nothing written"
check "Ctrl-C while writing: no temporary left" test -z "$(find "$tmp/int/a" -name '*.partial-*')"
check "Ctrl-C while writing: the earlier files unchanged" \
  test "$(cat "$tmp/int/a/big.QSX")" = "earlier script" -a "$(cat "$tmp/int/a/big.qsh")" = "earlier header"
# Interrupted once the first file is in place: the message names exactly the
# files in place, each whole. A run that ends before the signal lands (the
# files go in place in about 0.7 s) is tried again.
mkdir -p "$tmp/int/whole"
XDG_CONFIG_HOME="$tmp/cfg-int" "$linux" --batch --hierarchy separate "$tmp/int/many.json" "$tmp/int/whole/m.QSX"
for _ in 1 2 3; do
  rm -rf "$tmp/int/b" && mkdir -p "$tmp/int/b"
  rc=$(interrupt "$tmp/int/b" "m*.QSX" --batch --hierarchy separate "$tmp/int/many.json" "$tmp/int/b/m.QSX")
  [ "$rc" != 0 ] && break
done
sed -n 's/^qsxexport: interrupted; complete: //p' "$tmp/int/said" | sed 's/, /\n/g' | xargs -rn1 basename | sort \
  >"$tmp/int/named"
find "$tmp/int/b" -name '*.QSX' -printf '%f\n' | sort >"$tmp/int/present"
check "Ctrl-C while files are put in place: exit 130, names $(wc -l <"$tmp/int/named") complete files" \
  test "$rc" = 130 -a -s "$tmp/int/named" -a "$(wc -l <"$tmp/int/said")" = 1
check "Ctrl-C while files are put in place: no temporary left" test -z "$(find "$tmp/int/b" -name '*.partial-*')"
check "Ctrl-C while files are put in place: the files named are the files in place, each whole" \
  bash -c 'cd "$1/int" && cmp -s named present && for f in $(cat present); do cmp -s "b/$f" "whole/$f" || exit 1; done' _ "$tmp"

# A console of its own, as a console window gives one: names in any script
# show right, and the console's code page is its own again after the run.
mkdir -p "$tmp/ünïcødé"
printf '{"qsxScene":1,"nodes":[{"name":"ünïcødé","object":{"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0]],"faces":[[0,1,2]]}}}]}' \
  >"$tmp/ünïcødé/u.json"
folder=$(winepath -w "$tmp/ünïcødé")
on_console() { wine "$win/qsx_console_test.exe" 437 "$(winepath -w "$win/qsxexport.exe")" "$@" | tr -d '\r'; }
on_console --info "$folder\\u.json" >"$tmp/console-info"
on_console --batch "$folder\\missing.json" "$folder\\out.QSX" >"$tmp/console-error"
check "on a console: a node's name and a scene's path in --info show right" \
  bash -c 'grep -qxF "node \"ünïcødé\": meshes 1, positions 3, triangles 1, no material" "$1" &&
           grep -qxF "scene: \"${2//\\/\\\\}\\\\u.json\"" "$1"' _ "$tmp/console-info" "$folder"
check "on a console: a message naming a path shows right" \
  grep -qxF "qsxexport: $folder\\missing.json: No such file or directory" "$tmp/console-error"
# A scene and a script under a name that is not ASCII, streamed from their files: the same bytes as Linux's.
mkdir -p "$tmp/ünïcødé/l" "$tmp/ünïcødé/w"
XDG_CONFIG_HOME="$tmp/cfg-u" "$linux" --batch "$tmp/ünïcødé/u.json" "$tmp/ünïcødé/l/ü.QSX"
XDG_CONFIG_HOME="$tmp/cfg-u" "$linux" --batch "$tmp/ünïcødé/l/ü.QSX" "$tmp/ünïcødé/l/ü2.QSX"
rc=0
wine "$win/qsxexport.exe" --batch "$folder\\u.json" "$folder\\w\\ü.QSX" || rc=$?
wine "$win/qsxexport.exe" --batch "$folder\\l\\ü.QSX" "$folder\\w\\ü2.QSX" || rc=$?
check "a scene and a script under a name not in ASCII: exported as on Linux" \
  bash -c 'test "$2" = 0 && diff -r "$1/l" "$1/w"' _ "$tmp/ünïcødé" "$rc"
check "on a console: its code page is set back after the run" \
  bash -c 'for f; do grep -qx "before 437" "$f" && grep -qx "after 437" "$f" || exit 1; done' _ \
  "$tmp/console-info" "$tmp/console-error"

exit $fail
