#!/usr/bin/env bash
# The qsxexport command end to end: batch runs, stored settings, exit
# statuses, and output that never follows the user's locale.
set -u
exe=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME="$tmp/config"
passed=0 failed=0
check() {  # name, condition...
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

# Batch run with flags; nothing is stored without --save-defaults.
"$exe" --batch --header --hierarchy multiple "$src/examples/robot.json" "$tmp/a.QSX" 2>"$tmp/err"
check "batch export succeeds" test $? -eq 0
check "script written" test -s "$tmp/a.QSX"
check "header written" test -s "$tmp/a.qsh"
check "no animation unless asked" test ! -e "$tmp/a.qsv"
check "batch stores nothing" test ! -e "$tmp/config/qsxexport/settings.reg"
check "multiple clumps carry tags" grep -q "Tag 2" "$tmp/a.QSX"

# A script an editor saved with LF line ends or a byte-order mark: --check
# holds to the exporter's form, while reading it as a scene takes it with one
# warning and gives the same bytes back; a stale .qsv beside it is not read
# unless the animation is asked for.
"$exe" --batch --scale-by 1 --no-centre --hierarchy multiple "$tmp/a.QSX" "$tmp/re.QSX" 2>"$tmp/err"
check "script re-exported" test $? -eq 0
for form in lf bom; do
  if [ $form = lf ]; then tr -d '\r' <"$tmp/a.QSX" >"$tmp/$form.QSX"; else { printf '\357\273\277'; cat "$tmp/a.QSX"; } >"$tmp/$form.QSX"; fi
  printf 'not an animation\r\n' >"$tmp/$form.qsv"
  "$exe" --check "$tmp/$form.QSX" >/dev/null 2>&1
  check "--check refuses the $form form" test $? -eq 1
  "$exe" --batch --scale-by 1 --no-centre --hierarchy multiple --no-animation "$tmp/$form.QSX" "$tmp/re_$form.QSX" 2>"$tmp/err"
  check "the $form form is read as a scene" test $? -eq 0
  check "the $form form gets one warning" test "$(wc -l <"$tmp/err")" -eq 1
  check "the $form form gives the same bytes back" cmp -s "$tmp/re.QSX" "$tmp/re_$form.QSX"
done

# A script cut short is refused input for the preview; no picture is left.
if "$exe" --help | grep -q "after the export, draw"; then
  # The renderer loads only into a run that draws: every other run would pay
  # for its tens of megabytes.
  check "the command does not link the renderer" bash -c "! ldd '$exe' | grep -qi osmesa"
  head -c 200 "$tmp/a.QSX" >"$tmp/cut.QSX"
  "$exe" --preview "$tmp/cut.png" "$tmp/cut.QSX" 2>"$tmp/err"
  check "preview of a cut script is refused" test $? -eq 2
  check "no picture of a cut script" test ! -e "$tmp/cut.png"
  # -v lists the picture beside the files the export wrote.
  "$exe" -v --batch --preview "$tmp/v.png" "$src/examples/robot.json" "$tmp/v.QSX" 2>"$tmp/err"
  check "verbose preview run succeeds" test $? -eq 0
  check "verbose run lists the picture" grep -qx "qsxexport: wrote $tmp/v.png ([0-9]* bytes)" "$tmp/err"
  # A scene alone has no script to draw until it is exported.
  "$exe" --preview "$tmp/s.png" "$src/examples/robot.json" 2>"$tmp/err"
  check "preview of a scene alone is refused" test $? -eq 2
  check "preview of a scene alone asks for OUTPUT" grep -q "robot.json: a preview of a scene needs an OUTPUT to export first" "$tmp/err"
fi

# --save-defaults stores the options used; the next run starts from them.
"$exe" --batch --save-defaults --animation --hints editable "$src/examples/robot.json" "$tmp/b.QSX" 2>"$tmp/err"
check "save-defaults run succeeds" test $? -eq 0
check "settings stored" grep -q '"Hints"=dword:00000002' "$tmp/config/qsxexport/settings.reg"
"$exe" --batch "$src/examples/robot.json" "$tmp/c.QSX" 2>"$tmp/err"
check "stored options apply" grep -q "Hints HS Editable" "$tmp/c.QSX"
check "stored animation option applies" test -s "$tmp/c.qsv"

# The same bytes whatever the locale (a comma-decimal one where it exists).
if LC_ALL=de_DE.UTF-8 locale 2>&1 | grep -q "Cannot set"; then
  echo "note: no de_DE.UTF-8 locale here; the locale row runs with LC_ALL=C.UTF-8"
  loc=C.UTF-8
else
  loc=de_DE.UTF-8
fi
LC_ALL=$loc LANG=$loc "$exe" --batch --scale-by 2.5 "$src/examples/robot.json" "$tmp/d.QSX" 2>"$tmp/err"
LC_ALL=C "$exe" --batch --scale-by 2.5 "$src/examples/robot.json" "$tmp/e.QSX" 2>>"$tmp/err"
check "locale does not change output" cmp -s "$tmp/d.QSX" "$tmp/e.QSX"
check "decimal points" grep -q "Vertex  2.500000" "$tmp/e.QSX"

# Exit statuses and messages.
"$exe" --batch --scale-to 0 "$src/examples/robot.json" "$tmp/f.QSX" 2>"$tmp/err"
check "refused check exits 2" test $? -eq 2
check "refused value named with its option" grep -qx "qsxexport: --scale-to: '0' is not a number above 0" "$tmp/err"
check "refused check writes nothing" test ! -e "$tmp/f.QSX"
"$exe" --batch --ext toolong "$src/examples/robot.json" "$tmp/f.QSX" 2>"$tmp/err"
check "long extension refused" grep -qx "qsxexport: --ext: 'toolong' is not 1 to 3 letters or digits" "$tmp/err"
"$exe" --batch "$src/examples/robot.json" "$tmp/missing/dir/g.QSX" 2>"$tmp/err"
check "unwritable output exits 1" test $? -eq 1
check "unwritable output named" grep -q "qsxexport: $tmp/missing/dir/g.QSX: not written: No such file or directory" "$tmp/err"
"$exe" --bogus 2>"$tmp/err"
check "unknown option exits 2" test $? -eq 2
"$exe" --batch --plugin "$tmp/none.so" "$src/examples/robot.json" "$tmp/h.QSX" 2>"$tmp/err"
check "missing plug-in exits 2" test $? -eq 2
check "missing plug-in named once" test "$(grep -o "$tmp/none.so" "$tmp/err" | wc -l)" -eq 1
"$exe" --list-formats >"$tmp/out" 2>"$tmp/err"
check "list formats" grep -q "Quorvantis QSX Script File" "$tmp/out"

# A 3D file through the importer gives the same script as its JSON twin.
"$exe" --batch "$src/examples/robot.gltf" "$tmp/i.QSX" 2>"$tmp/err"
check "glTF export succeeds" test $? -eq 0
check "glTF script has both nodes" test "$(grep -c 'TransformBegin' "$tmp/i.QSX")" -eq 2

# The full example in every hierarchy mode: every file written, non-empty, CR LF text.
crlf_text() {  # file: not empty, every line ended by CR LF, only printable text
  test -s "$1" && test "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" = 0a &&
    test "$(grep -c $'\r$' "$1")" -eq "$(wc -l <"$1")" &&
    ! LC_ALL=C grep -q '[^[:print:][:space:]]' "$1"
}
for mode in preserve single multiple separate; do
  mkdir -p "$tmp/full-$mode"
  "$exe" --batch --header --animation --hierarchy "$mode" "$src/examples/full.json" "$tmp/full-$mode/full.QSX" 2>"$tmp/err"
  check "full example exports ($mode)" test $? -eq 0
  if [ "$mode" = single ]; then
    check "flat single clump: one warning that the numbers have no Tag lines" test "$(cat "$tmp/err")" = \
      "qsxexport: $tmp/full-$mode/full.qsh: warning: the hierarchy is flat (single clump): the script has no Tag lines for the numbers in the header and animation files"
  else
    check "full example reads without warnings ($mode)" test ! -s "$tmp/err"
  fi
  for f in "$tmp/full-$mode"/*; do check "full example file is CR LF text ($mode, ${f##*/})" crlf_text "$f"; done
  check "full example header and animation ($mode)" test -s "$tmp/full-$mode/full.qsh" -a -s "$tmp/full-$mode/full.qsv"
done
check "separate mode numbers its files" test -s "$tmp/full-separate/full0.QSX" -a -s "$tmp/full-separate/full2.QSX"

# --info describes a scene without exporting it; --json says the same as JSON.
"$exe" --info "$src/examples/robot.gltf" >"$tmp/info" 2>"$tmp/err"
check "--info succeeds quietly" test $? -eq 0 -a ! -s "$tmp/err"
check "--info: the node tree" grep -qx '  node "Head": meshes 1, positions 8, triangles 12, material 0' "$tmp/info"
check "--info: the texture" grep -q '^material 1 "Skin": standard, diffuse map "robot.png"$' "$tmp/info"
check "--info: the animation" grep -q '^animation 0 "Bob and look": 1.000 s, 30 frames at 30 fps, animated nodes 2' "$tmp/info"
"$exe" --info --json --fps 60 "$src/examples/robot.gltf" >"$tmp/info.json" 2>"$tmp/err"
check "--info --json: frames at --fps" grep -q '"seconds":1.0,"frames":60,"fps":60.0,' "$tmp/info.json"
"$exe" --info "$src/examples/robot.json" >"$tmp/info" 2>"$tmp/err"
check "--info on a JSON scene" grep -qx 'node "Body": meshes 1, positions 20, triangles 12, material 0' "$tmp/info"
# The up axis and the unit as values a program can use, each scene source; the reasons apart.
"$exe" --info --json "$src/examples/robot.json" >"$tmp/info-scene.json" 2>"$tmp/err"
"$exe" --info --json "$tmp/full-preserve/full.QSX" >"$tmp/info-script.json" 2>>"$tmp/err"
for c in 'info.json:+Y:glTF' 'info-scene.json:+Z:JSON' 'info-script.json:+Y:script'; do
  IFS=: read -r file axis word <<<"$c"
  check "--info --json: up axis $axis and no unit ($file)" grep -q \
    "\"upAxis\":\"$axis\",\"upAxisReason\":\"[^\"]*$word[^\"]*\",\"unit\":null,\"unitReason\":\"not stated" "$tmp/$file"
done

# A scene with nothing to write: the empty model, exit 0, one warning saying why;
# an option for 3D files on a JSON scene is named as not applying.
printf '{"qsxScene":1}' >"$tmp/empty.json"
"$exe" --batch --fps 24 "$tmp/empty.json" "$tmp/empty.QSX" 2>"$tmp/err"
check "nothing to export exits 0" test $? -eq 0
check "nothing to export writes the empty model" test "$(tr -d '\r' <"$tmp/empty.QSX" | tail -n 2 | tr '\n' ' ')" = "ModelBegin ModelEnd "
check "nothing to export says why, with the option that does not apply" test "$(cat "$tmp/err")" = \
  "qsxexport: $tmp/empty.json: warning: --fps applies to 3D files only; a JSON scene ignores it
qsxexport: $tmp/empty.json: warning: nothing to export: the scene has no nodes"

# Node names that are not C identifiers, repeated or empty still give a header a C compiler takes.
tri='"object":{"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0]],"faces":[[0,1,2]]}}'
printf '{"qsxScene":1,"nodes":[%s]}' \
  "{\"name\":\"Cube.001\",$tri},{\"name\":\"Bip01 Schritte\",$tri},{\"name\":\"\",$tri},{\"name\":\"Cube.001\",$tri}" \
  >"$tmp/names.json"
"$exe" --batch --header "$tmp/names.json" "$tmp/names.QSX" 2>"$tmp/err"
check "awkward names export" test $? -eq 0
printf '#include "names.qsh"\nint tags[] = {TAG_Cube_001, TAG_Bip01_Schritte, TAG_3, TAG_Cube_001_4};\n' >"$tmp/names.c"
check "header compiles as C" cc -std=c99 -pedantic -Wall -Werror -fsyntax-only "$tmp/names.c"
check "script keeps the names" grep -q '# Bip01 Schritte' "$tmp/names.QSX"

echo "$passed passed, $failed failed"
test "$failed" -eq 0
