#!/bin/bash
# End to end in a real terminal: qsxexport shows the options dialog under
# tmux, the keys a user would press go in, and the files, the settings and
# the screen are checked.
#
# usage: dialog_tmux_test.sh QSXEXPORT SOURCE_DIR
# Exit 0 on success, 1 on failure, 77 when tmux is missing (skipped).

set -u

QSXEXPORT=${1:?usage: dialog_tmux_test.sh QSXEXPORT SOURCE_DIR}
SOURCE_DIR=${2:?usage: dialog_tmux_test.sh QSXEXPORT SOURCE_DIR}

if ! command -v tmux >/dev/null 2>&1; then
    echo "SKIP: tmux is not installed; the terminal dialog cannot be driven" >&2
    exit 77
fi
if [ ! -x "$QSXEXPORT" ]; then
    echo "FAIL: $QSXEXPORT is not an executable" >&2
    exit 1
fi
# The export runs from the work directory.
QSXEXPORT=$(cd "$(dirname "$QSXEXPORT")" && pwd)/$(basename "$QSXEXPORT")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qsxdlg.XXXXXX")  # short: the path box shows it whole
SOCKET="qsx-dialog-test-$$" RUNS=0
TMUX_CMD=(tmux -u -L "$SOCKET" -f "$WORK/tmux.conf")
: >"$WORK/tmux.conf"

cleanup() {
    "${TMUX_CMD[@]}" kill-server >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -f "$WORK/last-screen" ]; then
        echo "--- last screen ---" >&2
        cat "$WORK/last-screen" >&2
        echo "-------------------" >&2
    fi
    exit 1
}

screen() {
    "${TMUX_CMD[@]}" capture-pane -p -t qsx >"$WORK/last-screen" 2>/dev/null
    cat "$WORK/last-screen"
}

# Waits (at most about 20 s) until the screen matches the extended regex.
wait_for() {
    local pattern=$1 what=$2
    for _ in $(seq 100); do
        if screen | grep -Eq -- "$pattern"; then return 0; fi
        sleep 0.2
    done
    fail "timed out waiting for $what"
}

# Waits (at most about 20 s) until the screen no longer matches the extended regex.
wait_gone() {
    local pattern=$1 what=$2
    for _ in $(seq 100); do
        if ! screen | grep -Eq -- "$pattern"; then return 0; fi
        sleep 0.2
    done
    fail "timed out waiting for $what"
}

# One key at a time, as a slow typist sends them.
keys() {
    local key
    for key in "$@"; do
        "${TMUX_CMD[@]}" send-keys -t qsx "$key"
        sleep 0.15
    done
}

# Starts qsxexport in a fresh terminal, 100x30 unless COLUMNS ROWS [ENV] are given;
# its exit status goes to $WORK/status.
start_export() {
    rm -f "$WORK/status"
    "${TMUX_CMD[@]}" kill-server >/dev/null 2>&1
    TMUX_CMD[3]="$SOCKET-$((++RUNS))"  # not the last server, which may still be going
    "${TMUX_CMD[@]}" new-session -d -s qsx -x "${1:-100}" -y "${2:-30}" \
        "cd '$WORK' && env XDG_CONFIG_HOME='$WORK/config' HOME='$WORK/home' LANG=C.UTF-8 ${3:-} \
         '$QSXEXPORT' '$SCENE' '$OUT/scene.qsx' 2>'$WORK/stderr'; echo \$? >'$WORK/status.tmp'; \
         mv '$WORK/status.tmp' '$WORK/status'" ||
        fail "tmux could not start a session"
}

wait_exit() {
    for _ in $(seq 100); do
        if [ -f "$WORK/status" ]; then
            # A sanitizer report is a failure whatever the status says.
            if grep -Eq 'ERROR: AddressSanitizer|runtime error:|LeakSanitizer' "$WORK/stderr"; then
                fail "qsxexport reported a memory or undefined-behaviour error: $(cat "$WORK/stderr")"
            fi
            cat "$WORK/status"
            return 0
        fi
        sleep 0.2
    done
    fail "qsxexport did not exit"
}

# The example scene; a small one of its own when the examples are not there.
SCENE="$SOURCE_DIR/examples/robot.json"
if [ ! -r "$SCENE" ]; then
    SCENE="$WORK/box.json"
    cat >"$SCENE" <<'EOF'
{
  "qsxScene": 1,
  "animation": { "start": 0, "end": 0, "ticksPerFrame": 160 },
  "nodes": [
    { "name": "Box01",
      "object": { "renderable": true,
        "mesh": { "vertices": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
                  "faces": [[0,1,2],[0,2,3]] } } }
  ]
}
EOF
fi
SCENE=$(cd "$(dirname "$SCENE")" && pwd)/$(basename "$SCENE")
OUT="$WORK/out"
mkdir -p "$OUT" "$WORK/config" "$WORK/home"

TITLE='Quorvantis Export Options'
TICKED_HEADER='\[[^] ]\] +Header'
UNTICKED_HEADER='\[ \] +Header'

# --- first run: the stored options (first use), tick Header, OK ---
start_export
wait_for "$TITLE" "the options dialog"
wait_for "$UNTICKED_HEADER" "the Header box"
S=$(screen)
for shown in '1\.0000' 'Scale by' 'Preserve hierarchy' 'None' 'BMP' '\[[^] ]\] +Centre object' \
    '\[[^] ]\] +Show textures' '\[ \] +Override extension' '\[ \] +Animation' 'scene\.qsh' 'scene\.qsv'; do
    grep -Eq -- "$shown" <<<"$S" || fail "the first-use dialog does not show $shown"
done

# From the first control, ten Tabs reach Header (the extension box is disabled).
keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Space
wait_for "$TICKED_HEADER" "Header to be ticked"

# The path box is enabled now: Tab reaches it, selecting its text, and typing
# replaces that text. What is typed there must not change where the header goes.
keys Tab
"${TMUX_CMD[@]}" send-keys -t qsx -l 'Zz'
wait_for 'Header +Zz +│' "typing into the header path box"
keys Enter
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] || fail "OK: qsxexport exited with $STATUS: $(cat "$WORK/stderr")"

[ -s "$OUT/scene.qsx" ] || fail "OK: the script $OUT/scene.qsx was not written"
[ -s "$OUT/scene.qsh" ] || fail "OK: the header $OUT/scene.qsh was not written"
[ ! -e "$WORK/Zz" ] && [ ! -e "$OUT/Zz" ] || fail "OK: the typed header path was used"
[ ! -e "$OUT/scene.qsv" ] || fail "OK: an animation file was written although not asked for"
grep -rqiF '"Save header"=dword:00000001' "$WORK/config" ||
    fail "OK: the settings under $WORK/config do not hold \"Save header\"=dword:00000001"

# --- second run: the saved options come back; Escape cancels ---
snapshot() { (cd "$1" && find . -type f -printf '%p %s %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
BEFORE_OUT=$(snapshot "$OUT")
BEFORE_CONFIG=$(snapshot "$WORK/config")
sleep 1  # a rewritten file would get another modification time

start_export
wait_for "$TITLE" "the options dialog (second run)"
wait_for "$TICKED_HEADER" "Header ticked from the saved options"
keys Escape
STATUS=$(wait_exit)
# 3 is the command's status for a cancelled dialog.
[ "$STATUS" = 3 ] || fail "Cancel: qsxexport exited with $STATUS, not 3: $(cat "$WORK/stderr")"
[ "$(snapshot "$OUT")" = "$BEFORE_OUT" ] || fail "Cancel: the output directory changed"
[ "$(snapshot "$WORK/config")" = "$BEFORE_CONFIG" ] || fail "Cancel: the settings changed"

# --- too small a terminal: no form, one message, status 2, nothing written ---
BEFORE_OUT=$(snapshot "$OUT")
BEFORE_CONFIG=$(snapshot "$WORK/config")
start_export 80 19
STATUS=$(wait_exit)
[ "$STATUS" = 2 ] || fail "80x19: qsxexport exited with $STATUS, not 2: $(cat "$WORK/stderr")"
[ "$(cat "$WORK/stderr")" = "qsxexport: the options dialog needs an 80×20 terminal; enlarge it or use --batch" ] ||
    fail "80x19: standard error says: $(cat "$WORK/stderr")"
! screen | grep -q "$TITLE" || fail "80x19: the form was drawn"
[ "$(snapshot "$OUT")" = "$BEFORE_OUT" ] || fail "80x19: the output directory changed"
[ "$(snapshot "$WORK/config")" = "$BEFORE_CONFIG" ] || fail "80x19: the settings changed"

# --- the smallest terminal: the whole form, the keys on its bottom line, the
# drop-down list opened from the keyboard, and typing that replaces a value ---
start_export 80 20
wait_for "$TITLE" "the options dialog at 80x20"
wait_for 'Tab/S-Tab:move Space:tick Alt\+key:jump Alt\+Down/Space:list Enter:OK Esc:Cancel' "the key hints"
S=$(screen)
grep -Eq '│ +│ \[ \] +Animation +[^ ]*scene\.qsv +│' <<<"$S" || fail "80x20: the Animation row is not inside its box"
OPEN_LIST='│ Scale to +│'
keys Tab Down  # the scale type list, then Down opens it
wait_for "$OPEN_LIST" "Down to open the list"
keys Up Enter  # Enter picks the item and closes the list; the dialog stays
wait_gone "$OPEN_LIST" "Enter to close the open list"
screen | grep -Eq 'Scale to +▼' || fail "Enter did not pick Scale to"
[ ! -e "$WORK/status" ] || fail "Enter on an open list ended the dialog"
# An Escape with another key soon after reads as Alt with that key: wait for each.
keys Space
wait_for "$OPEN_LIST" "Space to open the list"
keys Escape
wait_gone "$OPEN_LIST" "Escape to close the list"
keys M-Down
wait_for "$OPEN_LIST" "Alt+Down to open the list"
keys Escape
wait_gone "$OPEN_LIST" "Escape to close the list"
[ ! -e "$WORK/status" ] || fail "Escape on an open list ended the dialog"
keys Tab 2  # into the scale box: its text is selected, so 2 replaces 1.0000
wait_for '▼ +2 +│' "typing to replace the scale factor"
keys Enter
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] || fail "80x20 OK: qsxexport exited with $STATUS: $(cat "$WORK/stderr")"
grep -rqF '"Scale factor"="2.0000"' "$WORK/config" || fail "80x20 OK: the scale factor 2 was not stored"
grep -rqF '"Scale type"=dword:00000000' "$WORK/config" || fail "80x20 OK: Scale to was not stored"

settled() {  # the screen with its colours (which show the focus) once it stops changing
    local now before=
    for _ in $(seq 30); do
        now=$("${TMUX_CMD[@]}" capture-pane -e -p -t qsx) && [ "$now" = "$before" ] && break
        before=$now && sleep 0.3
    done
    printf '%s\n' "$now"
}

# --- bursts: each row's keys go from the first control over the others, once
# key by key and once all in one write; the screens before OK and the settings
# OK stores must agree, and hold the row's values ---
typed() {  # slow|burst KEYS...: the screen after the keys, then the stored settings
    local how=$1 && shift
    rm -rf "$WORK/config" && mkdir "$WORK/config" && start_export 80 24
    wait_for "$UNTICKED_HEADER" "the dialog ($how: $*)"
    if [ "$how" = slow ]; then keys "$@"; else "${TMUX_CMD[@]}" send-keys -t qsx "$@"; fi
    settled && keys Enter
    [ "$(wait_exit)" = 0 ] || fail "$how $*: OK did not export: $(cat "$WORK/stderr")"
    cat "$WORK"/config/*/settings.reg
}
while IFS='@' read -r row want; do
    SLOW=$(typed slow $row) && BURST=$(typed burst $row) || exit 1
    [ "$SLOW" = "$BURST" ] || fail "$row: at once unlike one at a time: $(diff <(echo "$SLOW") <(echo "$BURST"))"
    IFS=';' read -ra values <<<"$want"
    for value in "${values[@]}"; do grep -qF -- "$value" <<<"$SLOW" || fail "$row: no $value in $SLOW"; done
done <<'ROWS'
Space Tab Space Up Enter Tab 3 Tab Space Down Enter@"Centre"=dword:00000000;"Scale type"=dword:00000000;"Scale factor"="3.0000";"Hierarchy type"=dword:00000001
Tab Tab Tab Tab Space Down Enter Tab Space Tab Space Tab Space Tab Space Tab Space Tab t g a Tab Space@"Hints"=dword:00000001;"Ext Name"="TGA";"Save header"=dword:00000001
Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Space Tab z BTab Space Tab Tab Tab Tab Tab Space Tab q@"Save header"=dword:00000000;"Save animation"=dword:00000001
M-h Space Down Down Enter Tab Space M-c@"Hints"=dword:00000002;"Centre"=dword:00000000
Space BTab Space BTab BTab Space Tab Tab Space@"Centre"=dword:00000001;"Save animation"=dword:00000001
ROWS

# --- resizing: each size is laid out as if the form had opened at it, the
# focus kept; below the smallest size the form says so instead ---
declare -A FRESH
rm -rf "$WORK/config" && mkdir "$WORK/config"
for size in 90x26 80x24 120x40 100x30; do
    start_export "${size%x*}" "${size#*x}" && wait_for "$UNTICKED_HEADER" "the dialog at $size"
    keys Tab Tab && FRESH[$size]=$(settled)
done
for size in 60x15 90x26 79x40 80x24 120x40; do
    "${TMUX_CMD[@]}" resize-window -t qsx -x "${size%x*}" -y "${size#*x}" && S=$(settled)
    if [ -z "${FRESH[$size]:-}" ]; then grep -q "needs 80x20" <<<"$S" && ! grep -q Cancel <<<"$S"; else [ "$S" = "${FRESH[$size]}" ]; fi ||
        fail "$size: not as opened at that size (or a note when too small): $(diff <(echo "${FRESH[$size]:-}") <(echo "$S"))"
done
"${TMUX_CMD[@]}" send-keys -t qsx 7 Enter  # the scale box kept the focus and its text selected
[ "$(wait_exit)" = 0 ] && grep -rqF '"Scale factor"="7.0000"' "$WORK/config" || fail "resized: 7 was not stored"

# --- looks: each row's size, environment, keys and what the screen must show
# (;-separated, ! for must not); the group boxes' left edges always line up ---
while IFS='@' read -r size env row checks; do
    start_export "${size%x*}" "${size#*x}" "$env" && wait_for "$TITLE" "the dialog at $size $env"
    keys $row && S=$(settled | sed 's/\x1b\[[0-9;]*m//g')
    IFS=';' read -ra regexes <<<"$checks"
    for regex in "${regexes[@]}"; do
        if [ "${regex::1}" = ! ]; then ! grep -Eq -- "${regex#!}" <<<"$S"; else grep -Eq -- "$regex" <<<"$S"; fi ||
            fail "$size $env: the screen fails $regex"
    done
    [ "$(sed -nE 's/[┌+](Position|Hierarchy|Textures|Additional).*//p' <<<"$S" | sort -u | wc -l)" = 1 ] ||
        fail "$size $env: the group boxes do not line up"
done <<'ROWS'
80x24@@Tab Tab Tab Space@│ Flat \(multiple clumps\) +│;!^ *(-|\[-\]) +Quorvantis
80x24@LC_ALL=C@Tab Tab Tab Space@^\+-{78}\+$;Scale (by|to) +v +[0-9];\| Flat \(multiple clumps\) +\|;![│┌└▼]|lqq|qqk|^ *(-|\[-\]) +Quorvantis
120x40@@@Quorvantis;!^ *(-|\[-\]) +Quorvantis
ROWS

echo "PASS: options dialog in the terminal"
exit 0
