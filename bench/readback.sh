#!/usr/bin/env bash
# What reading a script back costs: --check, --info and --preview on the heavy
# script at two sizes, beside the export that wrote it; wall and CPU time and
# peak resident memory by /usr/bin/time, each the best of RUNS runs. The two
# sizes show how each grows: time should double with the script, memory stay
# flat (--check, --info) or double (--preview, which holds the geometry).
#
#   bench/readback.sh                 heavy x4 and x8 (x8: 16.8M triangles, a 1.5 GB script)
#   BENCH_QUICK=1 bench/readback.sh   heavy x0.5 and x1
#
# Environment: BENCH_BUILD (build directory, default build-bench), BENCH_DATA
# (generated scenes, default bench/data), TMPDIR (the scripts written, about
# 3 GB at full size), BENCH_BEFORE (another qsxexport, with its qsxpreview.so
# beside it, measured on the same scripts).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
DATA=${BENCH_DATA:-$ROOT/bench/data}
if [ "${BENCH_QUICK:-0}" = 1 ]; then SCALES=(0.5 1) RUNS=2; else SCALES=(4 8) RUNS=2; fi
BEFORE=${BENCH_BEFORE:-}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qsx_readback.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME=$WORK/config
mkdir -p "$XDG_CONFIG_HOME" "$DATA"

say() { printf '[%3ds] %s\n' "$SECONDS" "$*" >&2; }
if [ -n "$BEFORE" ] && [ ! -x "$BEFORE" ]; then say "readback.sh: BENCH_BEFORE=$BEFORE is not a program"; exit 2; fi

say "== building release binaries in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQSX_TESTS=OFF -DQSX_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target qsxexport qsexp qsxpreview qsx_gen_scene >/dev/null
QSX=$BUILD/qsxexport
GEN=$BUILD/bench/qsx_gen_scene

# One line per run: name scale wall_s cpu_s peak_kB; the best run kept by the table.
ROWS=$WORK/rows
measure() {  # name scale command...
    local name=$1 scale=$2
    shift 2
    for _ in $(seq "$RUNS"); do
        rm -f "$WORK/p.png" "$WORK/e.QSX"
        /usr/bin/time -f '%e %U %S %M' -o "$WORK/t" "$@" >/dev/null 2>"$WORK/err" || {
            say "$name x$scale failed: $(tail -1 "$WORK/err")"
            return
        }
        read -r wall user sys peak < <(tail -1 "$WORK/t")
        echo "$name $scale $wall $(echo "$user + $sys" | bc) $peak" >> "$ROWS"
    done
}

for s in "${SCALES[@]}"; do
    json=$DATA/heavy_x$s.json
    if [ ! -s "$json" ] || [ "$GEN" -nt "$json" ]; then
        say "== generating heavy x$s"
        "$GEN" heavy --scale "$s" --json "$json" >&2
    fi
    script=$WORK/heavy_x$s.QSX
    "$QSX" --batch "$json" "$script"
    echo "size $s $(stat -c %s "$script") $(grep -c '^ *Triangle' "$script")" >> "$WORK/sizes"
    say "== heavy x$s: $(stat -c %s "$script") bytes"
    measure export "$s" "$QSX" --batch "$json" "$WORK/e.QSX"
    for qsx in "$QSX" ${BEFORE:+"$BEFORE"}; do
        tag=; [ "$qsx" = "$QSX" ] || tag=before_
        measure "${tag}check" "$s" "$qsx" --check "$script"
        measure "${tag}info" "$s" "$qsx" --info "$script"
        measure "${tag}preview" "$s" "$qsx" --preview "$WORK/p.png" "$script"
    done
    rm -f "$script"
done

LOAD=$(cut -d' ' -f1 /proc/loadavg)
awk -v load="$LOAD" -v cores="$(nproc)" '
    FNR == 1 { file++ }
    file == 1 { mb[$2] = $3 / 1e6; tri[$2] = $4; next }
    {
        k = $1 SUBSEP $2
        if (!(k in cpu) || $4 < cpu[k]) { cpu[k] = $4; wall[k] = $3; peak[k] = $5 }
        if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }
        if (!($2 in sseen)) { sseen[$2] = 1; scales[++m] = $2 }
    }
    END {
        printf "Reading the heavy script back (load %s on %s cores; best of the runs; cpu = user + system)\n", load, cores
        for (j = 1; j <= m; j++)
            printf "  x%s: %.0f MB script, %d triangles\n", scales[j], mb[scales[j]], tri[scales[j]]
        printf "%-16s %6s %9s %9s %10s %10s\n", "command", "size", "wall s", "cpu s", "peak MB", "MB/s cpu"
        for (i = 1; i <= n; i++)
            for (j = 1; j <= m; j++) {
                k = order[i] SUBSEP scales[j]
                if (!(k in cpu)) continue
                printf "%-16s %6s %9.2f %9.2f %10.1f %10.0f\n", order[i], "x" scales[j], wall[k], cpu[k],
                       peak[k] / 1024, (cpu[k] > 0 ? mb[scales[j]] / cpu[k] : 0)
            }
        if (m == 2) {
            printf "growth from x%s to x%s (the script x%.2f):\n", scales[1], scales[2], mb[scales[2]] / mb[scales[1]]
            for (i = 1; i <= n; i++) {
                a = order[i] SUBSEP scales[1]; b = order[i] SUBSEP scales[2]
                if ((a in cpu) && (b in cpu) && cpu[a] > 0)
                    printf "  %-14s time x%.2f, memory x%.2f\n", order[i], cpu[b] / cpu[a], peak[b] / peak[a]
            }
        }
    }' "$WORK/sizes" "$ROWS"
