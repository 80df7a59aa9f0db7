#!/usr/bin/env bash
# What an export costs, in one table: builds the release binaries, generates the
# benchmark scenes, runs the core benchmark and its snprintf reference, times the
# whole commands (qsxexport on the binary glTF and on the JSON scene, assimp's
# own export of the same glTF file to OBJ, and both on a flat-shaded subdivided
# surface as OBJ), measures peak resident memory, checks
# that the script is the same bytes on every path, and prints the figures side
# by side with the targets.
#
#   bench/run.sh                  full sizes (heavy = 1M vertices, 2M triangles; wide = 100,000 nodes)
#   BENCH_QUICK=1 bench/run.sh    1/8 of those sizes, well under a minute once built
#
# Environment: BENCH_BUILD (build directory, default build-bench), BENCH_DATA
# (generated scenes, default bench/data), TMPDIR (scratch files), BENCH_BEFORE
# (another qsxexport, such as main's, timed beside this one on the same files).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
BUILD=${BENCH_BUILD:-$ROOT/build-bench}
DATA=${BENCH_DATA:-$ROOT/bench/data}
QUICK=${BENCH_QUICK:-0}
if [ "$QUICK" = 1 ]; then
    SCALES=(0.125 0.25 0.5) REPS=2 RUNS=2 MINTIME=0.1
else
    SCALES=(1 2 4) REPS=3 RUNS=3 MINTIME=0.5
fi
BASE=${SCALES[0]}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/qsx_bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export TMPDIR=$WORK
# A settings file of our own: the runs use the default options and store nothing.
export XDG_CONFIG_HOME=$WORK/config
mkdir -p "$XDG_CONFIG_HOME" "$DATA"

say() { printf '[%3ds] %s\n' "$SECONDS" "$*" >&2; }

for tool in hyperfine assimp /usr/bin/time cmake; do
    command -v "$tool" >/dev/null || { say "run.sh: $tool is missing"; exit 2; }
done

say "== building release binaries in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQSX_TESTS=OFF -DQSX_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target qsxexport qsexp export_bench export_ref qsx_gen_scene qsx_gen_surface reader_bench >/dev/null
QSX=$BUILD/qsxexport
GEN=$BUILD/bench/qsx_gen_scene
BEFORE=${BENCH_BEFORE:-}
if [ -n "$BEFORE" ] && [ ! -x "$BEFORE" ]; then say "run.sh: BENCH_BEFORE=$BEFORE is not a program"; exit 2; fi

# Generated files are kept between runs; a newer generator makes them again.
gen() {  # kind scale [glb]
    local json=$DATA/$1_x$2.json glb=$DATA/$1_x$2.glb
    if [ ! -s "$json" ] || [ "$GEN" -nt "$json" ] || { [ "${3:-}" = glb ] && { [ ! -s "$glb" ] || [ "$GEN" -nt "$glb" ]; }; }; then
        say "== generating $1 x$2"
        if [ "${3:-}" = glb ]; then "$GEN" "$1" --scale "$2" --json "$json" --glb "$glb" >&2
        else "$GEN" "$1" --scale "$2" --json "$json" >&2; fi
    fi
}
gen heavy "$BASE" glb
gen wide "$BASE"
# One file per node against one script: 20,000 nodes in either size.
MANY=0.2
gen wide "$MANY"
for s in "${SCALES[@]:1}"; do gen heavy "$s"; done
# The surface is full size in every run: its target is stated at 250k triangles.
SURFACE=$DATA/surface.obj
if [ ! -s "$SURFACE" ] || [ "$BUILD/bench/qsx_gen_surface" -nt "$SURFACE" ]; then
    say "== generating the subdivided surface"
    "$BUILD/bench/qsx_gen_surface" "$SURFACE" > "$SURFACE.txt"
fi

# ---------------------------------------------------------------- core benchmarks
BMFLAGS=(--benchmark_repetitions=$REPS --benchmark_min_time=$MINTIME --benchmark_display_aggregates_only=true
         --benchmark_out_format=csv)
say "== core benchmark (heavy, wide at x$BASE)"
"$BUILD/bench/export_bench" --scenes=heavy,wide --scale="$BASE" --json-dir="$DATA" "${BMFLAGS[@]}" \
    --benchmark_out="$WORK/core.csv" >&2
say "== snprintf reference build"
"$BUILD/bench/export_ref" --scenes=heavy,wide --scale="$BASE" "${BMFLAGS[@]}" \
    --benchmark_out="$WORK/ref.csv" >&2
for s in "${SCALES[@]:1}"; do
    say "== core linearity, heavy x$s"
    "$BUILD/bench/export_bench" --scenes=heavy --scale="$s" --benchmark_filter='^export_file' "${BMFLAGS[@]}" \
        --benchmark_out="$WORK/core_x$s.csv" >&2
done

# ---------------------------------------------------------------- reading scripts back
say "== script reader (heavy scripts at ${SCALES[*]})"
READ_SCRIPTS=()
for s in "${SCALES[@]}"; do
    "$QSX" --batch "$DATA/heavy_x$s.json" "$WORK/read_x$s.QSX"
    READ_SCRIPTS+=("$WORK/read_x$s.QSX")
done
"$BUILD/bench/reader_bench" "${BMFLAGS[@]}" --benchmark_out="$WORK/reader.csv" "${READ_SCRIPTS[@]}" >&2
rm -f "${READ_SCRIPTS[@]}"

# ---------------------------------------------------------------- the same bytes on every path
say "== checking the scripts byte for byte"
"$BUILD/bench/export_bench" --write="$WORK/fast_heavy.QSX" --scenes=heavy --scale="$BASE"
"$BUILD/bench/export_ref" --write="$WORK/ref_heavy.QSX" --scenes=heavy --scale="$BASE"
"$BUILD/bench/export_bench" --write="$WORK/fast_wide.QSX" --scenes=wide --scale="$BASE"
"$BUILD/bench/export_ref" --write="$WORK/ref_wide.QSX" --scenes=wide --scale="$BASE"
"$QSX" --batch "$DATA/heavy_x$BASE.json" "$WORK/cmd_heavy.QSX"
same() { cmp -s "$1" "$2" && echo same || echo DIFFERENT; }
CHECK_HEAVY=$(same "$WORK/fast_heavy.QSX" "$WORK/ref_heavy.QSX")
CHECK_WIDE=$(same "$WORK/fast_wide.QSX" "$WORK/ref_wide.QSX")
CHECK_CMD=$(same "$WORK/fast_heavy.QSX" "$WORK/cmd_heavy.QSX")
SUM_HEAVY=$(sha256sum < "$WORK/fast_heavy.QSX" | cut -c1-16)
SUM_WIDE=$(sha256sum < "$WORK/fast_wide.QSX" | cut -c1-16)
rm -f "$WORK"/*.QSX

# ---------------------------------------------------------------- whole commands
GLB=$DATA/heavy_x$BASE.glb
say "== whole commands (hyperfine, $RUNS runs each)"
# Each run writes a new file: truncating the last run's output (still being
# written back) is the file system's cost, and it grows faster than the file.
OUTS="$WORK/out_glb.QSX $WORK/out.obj $WORK/out.mtl $WORK/out_json.QSX $WORK/out_lin.QSX"
E2E=() PREP=()
e2e() {  # name, output files, command
    E2E+=(-n "$1" "$3")
    PREP+=(--prepare "rm -f $2")
}
e2e qsx_glb "$WORK/out_glb.QSX" "$QSX --batch $GLB $WORK/out_glb.QSX"
e2e assimp_obj "$WORK/out.obj $WORK/out.mtl" "assimp export $GLB $WORK/out.obj"
e2e qsx_json "$WORK/out_json.QSX" "$QSX --batch $DATA/heavy_x$BASE.json $WORK/out_json.QSX"
e2e qsx_surface "$WORK/out_surface.QSX" "$QSX --batch $SURFACE $WORK/out_surface.QSX"
e2e assimp_surface "$WORK/out_surface.obj $WORK/out_surface.mtl" "assimp export $SURFACE $WORK/out_surface.obj -tri"
E2E+=(-n qsx_separate "$QSX --batch --hierarchy separate $DATA/wide_x$MANY.json $WORK/separate/w.QSX")
PREP+=(--prepare "bash $ROOT/bench/fresh-folder.sh $WORK/separate")
e2e qsx_one_script "$WORK/one_script.QSX" "$QSX --batch --hierarchy multiple $DATA/wide_x$MANY.json $WORK/one_script.QSX"
if [ -n "$BEFORE" ]; then
    e2e before_glb "$WORK/before_glb.QSX" "$BEFORE --batch $GLB $WORK/before_glb.QSX"
    e2e before_surface "$WORK/before_surface.QSX" "$BEFORE --batch $SURFACE $WORK/before_surface.QSX"
fi
hyperfine -N --style basic --runs "$RUNS" --export-csv "$WORK/e2e.csv" "${PREP[@]}" "${E2E[@]}" >&2
OBJ_BYTES=$(stat -c %s "$WORK/out.obj")
QSX_GLB_BYTES=$(stat -c %s "$WORK/out_glb.QSX")
SURFACE_LINES=$(grep -c '^ *Vertex' "$WORK/out_surface.QSX")
SURFACE_PAIRS=$(sed -n 's/.* \([0-9]*\) distinct (position, texture coordinate) pairs.*/\1/p' "$SURFACE.txt")
SIZE_SURFACE=$(cat "$SURFACE.txt")
LIN_CMDS=()
for s in "${SCALES[@]}"; do LIN_CMDS+=(-n "json_x$s" "$QSX --batch $DATA/heavy_x$s.json $WORK/out_lin.QSX"); done
hyperfine -N --style basic --runs "$RUNS" --prepare "rm -f $WORK/out_lin.QSX" --export-csv "$WORK/lin.csv" "${LIN_CMDS[@]}" >&2

# Settings files of many values in the exporter's key (names it does not
# know, as a file edited by hand or by another program may hold): reading
# them must grow linearly. Timed against the same command without settings.
say "== settings files of many values"
SETTINGS_SIZES=(40000 2000000)
printf '%s\n' '{"qsxScene":1,"nodes":[{"name":"Tri","object":{"mesh":{"vertices":[[0,0,0],[1,0,0],[0,1,0]],"faces":[[0,1,2]]}}}]}' \
    > "$WORK/one.json"
SET_CMDS=(-n settings_none "env XDG_CONFIG_HOME=$WORK/settings_none $QSX --batch $WORK/one.json $WORK/s.QSX")
mkdir -p "$WORK/settings_none"
for n in "${SETTINGS_SIZES[@]}"; do
    mkdir -p "$WORK/settings_$n/qsxexport"
    { printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Dunmarrow\\Quorvantis 3dsMax Exporter]\r\n'
      awk -v n="$n" 'BEGIN { for (i = 1; i <= n; i++) printf "\"Extra %d\"=\"v\"\r\n", i }'; } > "$WORK/settings_$n/qsxexport/settings.reg"
    SET_CMDS+=(-n "settings_$n" "env XDG_CONFIG_HOME=$WORK/settings_$n $QSX --batch $WORK/one.json $WORK/s.QSX")
done
hyperfine -N --style basic --runs 3 --prepare "rm -f $WORK/s.QSX" --export-csv "$WORK/settings.csv" "${SET_CMDS[@]}" >&2

say "== peak resident memory"
rss() { rm -f $OUTS "$WORK"/out_surface.* "$WORK"/before_*.QSX "$WORK/m.QSX" "$WORK/m.obj"; /usr/bin/time -f '%M' -o "$WORK/rss" "$@" >/dev/null 2>&1; cat "$WORK/rss"; }
# The command's own footprint: loading and exporting a one-triangle scene.
RSS_QSX_BASE=$(rss "$QSX" --batch "$WORK/one.json" "$WORK/m.QSX")
RSS_QSX_GLB=$(rss "$QSX" --batch "$GLB" "$WORK/m.QSX")
RSS_ASSIMP=$(rss assimp export "$GLB" "$WORK/m.obj")
RSS_QSX_JSON=$(rss "$QSX" --batch "$DATA/heavy_x$BASE.json" "$WORK/m.QSX")
rm -f "$WORK"/*.QSX "$WORK"/*.obj "$WORK"/*.mtl
MEM_GEN_HEAVY=$("$BUILD/bench/export_bench" --memory=heavy --scale="$BASE")
MEM_GEN_WIDE=$("$BUILD/bench/export_bench" --memory=wide --scale="$BASE")
MEM_JSON=$("$BUILD/bench/export_bench" --memory="$DATA/heavy_x$BASE.json")
MEM_GLB=$("$BUILD/bench/export_bench" --memory="$GLB")

# ---------------------------------------------------------------- the table
SIZE_HEAVY=$("$GEN" heavy --scale "$BASE" | sed 's/^[^:]*: //')
SIZE_WIDE=$("$GEN" wide --scale "$BASE" | sed 's/^[^:]*: //')
SIZE_MANY=$("$GEN" wide --scale "$MANY" | sed 's/^[^:]*: //')
LOAD=$(cut -d' ' -f1 /proc/loadavg)
awk -v quick="$QUICK" -v base="$BASE" -v scales="${SCALES[*]}" -v load="$LOAD" -v cores="$(nproc)" \
    -v size_heavy="$SIZE_HEAVY" -v size_wide="$SIZE_WIDE" -v size_many="$SIZE_MANY" \
    -v check_heavy="$CHECK_HEAVY" -v check_wide="$CHECK_WIDE" -v check_cmd="$CHECK_CMD" \
    -v sum_heavy="$SUM_HEAVY" -v sum_wide="$SUM_WIDE" \
    -v rss_qsx_base="$RSS_QSX_BASE" -v rss_qsx_glb="$RSS_QSX_GLB" -v rss_assimp="$RSS_ASSIMP" -v rss_qsx_json="$RSS_QSX_JSON" \
    -v mem_gen_heavy="$MEM_GEN_HEAVY" -v mem_gen_wide="$MEM_GEN_WIDE" -v mem_json="$MEM_JSON" -v mem_glb="$MEM_GLB" \
    -v obj_bytes="$OBJ_BYTES" -v qsx_glb_bytes="$QSX_GLB_BYTES" -v before="$BEFORE" \
    -v surface_lines="$SURFACE_LINES" -v surface_pairs="$SURFACE_PAIRS" -v size_surface="$SIZE_SURFACE" \
    -v core="$WORK/core.csv" -v ref="$WORK/ref.csv" -v reader="$WORK/reader.csv" -v e2e="$WORK/e2e.csv" -v lin="$WORK/lin.csv" \
    -v settings="$WORK/settings.csv" -v settings_sizes="${SETTINGS_SIZES[*]}" \
    -v coredir="$WORK" -f "$ROOT/bench/report.awk"
