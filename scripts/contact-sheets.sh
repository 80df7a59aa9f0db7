#!/bin/sh
# Exports every model of each format folder of a corpus of 3D files with the
# default options and --up-axis auto, previews each, and tiles the previews
# with their file names into one PNG per folder: OUTDIR/FOLDER.png. A file
# that is refused, or whose preview cannot be drawn, gets no tile; it is
# listed in OUTDIR/FOLDER.refused with the command's message.
#
#   scripts/contact-sheets.sh [OUTDIR]      (default: contact-sheets)
#
# UP_AXIS (y or z to compare with auto), QSXEXPORT (default build/qsxexport), CORPUS (default
# /usr/share/assimp/models), FOLDERS (names of the folders to do, default all),
# TILE (the size of one preview, default 200x150), COLUMNS (default 6) and
# LIMIT_SECONDS / LIMIT_KB (time and memory of one export, default 120 s and
# 3 GB: damaged files can make the importer run away) change the defaults.
# Needs netpbm (pngtopnm, pbmtext, pnmpad, pnmcat, pnmtopng).
set -u

out=${1:-contact-sheets}
exe=${QSXEXPORT:-build/qsxexport}
corpus=${CORPUS:-/usr/share/assimp/models}
up=${UP_AXIS:-auto}
tile=${TILE:-200x150}
columns=${COLUMNS:-6}
limit_s=${LIMIT_SECONDS:-120}
limit_kb=${LIMIT_KB:-3000000}
w=${tile%x*}
h=${tile#*x}

[ -x "$exe" ] || { echo "contact-sheets: no program at $exe (set QSXEXPORT)" >&2; exit 2; }
[ -d "$corpus" ] || { echo "contact-sheets: no corpus at $corpus (set CORPUS)" >&2; exit 2; }
for tool in pngtopnm pbmtext pnmpad pnmcat pnmtopng pnmfile ppmmake timeout; do
    command -v "$tool" >/dev/null || { echo "contact-sheets: $tool is missing (netpbm, coreutils)" >&2; exit 2; }
done
mkdir -p "$out" || exit 1
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT INT TERM

# The extensions the importer reads; a multi-part one ("mesh.xml") by its last part.
exts=" $("$exe" --list-input-formats | tr ' ' '\n' | sed 's/.*\.//' | sort -u | tr '\n' ' ') "

# A label of one tile's width: the name's end when it is too long.
label() {
    name=$1
    max=$((w / 8 - 1))
    if [ ${#name} -gt "$max" ]; then
        name=..$(printf '%s' "$name" | rev | cut -c1-$((max - 2)) | rev)
    fi
    pbmtext -builtin fixed -- "$name" | pnmpad -white -width "$w" -halign 0 2>/dev/null
}

if [ -n "${FOLDERS:-}" ]; then folders=$FOLDERS; else folders=$(cd "$corpus" && ls); fi
for folder in $folders; do
    [ -d "$corpus/$folder" ] || continue
    work="$tmp/$folder"
    mkdir -p "$work/tiles" "$work/out"
    : >"$work/refused"
    n=0
    (cd "$corpus/$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/files"
    while IFS= read -r rel; do
        ext=$(printf '%s' "${rel##*.}" | tr '[:upper:]' '[:lower:]')
        case "$rel" in *.*) ;; *) continue ;; esac
        case "$exts" in *" $ext "*) ;; *) continue ;; esac
        n=$((n + 1))
        png="$work/tiles/$n.png"
        msg=$( (ulimit -v "$limit_kb"; timeout "$limit_s" "$exe" --batch --up-axis "$up" --preview "$png" \
                 --preview-size "$tile" "$corpus/$folder/$rel" "$work/out/m$n.QSX") 2>&1 >/dev/null)
        rc=$?
        if [ $rc -ne 0 ] || [ ! -s "$png" ]; then
            [ $rc -eq 124 ] && msg="stopped after $limit_s s"
            printf '%s\texit %s\t%s\n' "$rel" "$rc" "$(printf '%s' "$msg" | tr '\n' ' ')" >>"$work/refused"
            rm -f "$png"
            continue
        fi
        pngtopnm "$png" >"$work/tiles/$n.ppm" 2>/dev/null && label "$rel" >"$work/tiles/$n.lab" &&
            pnmcat -tb "$work/tiles/$n.ppm" "$work/tiles/$n.lab" >"$work/tiles/$n.tile" 2>/dev/null ||
            printf '%s\ttile\tcould not be tiled\n' "$rel" >>"$work/refused"
        rm -f "$work/out/"*
    done <"$work/files"

    # Rows of COLUMNS tiles, the last filled with blank ones, under a title.
    set -- "$work/tiles/"*.tile
    if [ ! -e "$1" ]; then
        cp "$work/refused" "$out/$folder.refused"
        if [ "$n" -eq 0 ]; then
            echo "$folder: no file of a format the importer reads"
        else
            echo "$folder: none of $n files drew"
            sed 's/^/  refused: /' "$work/refused"
        fi
        continue
    fi
    blank="$work/blank.ppm"
    first=$(ls "$work/tiles/"*.tile | head -1)
    th=$(pnmfile "$first" | sed 's/.* by \([0-9]*\).*/\1/')
    ppmmake rgb:ff/ff/ff "$w" "$th" >"$blank"
    rows=""
    r=0
    i=0
    row=""
    for t in $(ls "$work/tiles/"*.tile | sort -V); do
        row="$row $t"
        i=$((i + 1))
        if [ $i -eq "$columns" ]; then
            r=$((r + 1)); pnmcat -lr $row >"$work/row$r.ppm"; rows="$rows $work/row$r.ppm"; row=""; i=0
        fi
    done
    if [ $i -gt 0 ]; then
        while [ $i -lt "$columns" ]; do row="$row $blank"; i=$((i + 1)); done
        r=$((r + 1)); pnmcat -lr $row >"$work/row$r.ppm"; rows="$rows $work/row$r.ppm"
    fi
    pbmtext -builtin fixed -- "$folder (--up-axis $up)" >"$work/title.pbm"
    pnmcat -white -tb -jleft "$work/title.pbm" $rows | pnmtopng >"$out/$folder.png" 2>/dev/null
    cp "$work/refused" "$out/$folder.refused"
    drawn=$(ls "$work/tiles/"*.tile | wc -l)
    skipped=$(wc -l <"$work/refused")
    echo "$folder: $drawn drawn, $skipped refused or not drawn -> $out/$folder.png"
    [ "$skipped" -gt 0 ] && sed 's/^/  refused: /' "$work/refused"
done
exit 0
