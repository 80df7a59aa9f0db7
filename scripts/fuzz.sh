#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang++-14 with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for FUZZ_SECONDS
# (default 60), FUZZ_JOBS of them at a time (default 2), starting from the
# seed corpus in fuzz/corpus/<harness>/. Prints executions per second and
# total executions per harness; exits non-zero when any harness finds a
# crash, a leak, a timeout or runs out of memory (the input is kept in
# build-fuzz/artifacts/, the log in build-fuzz/logs/).
#
#   FUZZ_SECONDS=600 scripts/fuzz.sh            # longer runs
#   scripts/fuzz.sh fuzz_json_scene             # one harness
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
dir=${FUZZ_BUILD_DIR:-build-fuzz}
cxx=${FUZZ_CXX:-clang++-14}

cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQSX_FUZZ=ON -DQSX_TESTS=OFF -DQSX_BENCH=OFF -DQSX_SANITIZE=OFF -DQSX_WERROR="${QSX_WERROR:-OFF}" >/dev/null
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  mapfile -t harnesses <"$dir/fuzz/harnesses.txt"
fi
cmake --build "$dir" -j2 --target "${harnesses[@]}"

mkdir -p "$dir/artifacts" "$dir/logs"

# One harness; its exit status goes to logs/<harness>.rc.
fuzz_one() {
  local h=$1 rc=0
  local work="$dir/corpus/$h" log="$dir/logs/$h.log"
  local extra=()
  mkdir -p "$work"
  [ -f "fuzz/$h.dict" ] && extra+=(-dict="fuzz/$h.dict")
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$PWD/fuzz/lsan.supp":print_suppressions=0 \
    "$dir/fuzz/$h" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$h-" "${extra[@]}" "$work" "fuzz/corpus/$h" >"$log" 2>&1 || rc=$?
  echo "$rc" >"$dir/logs/$h.rc"
}

echo "== fuzzing ${harnesses[*]}: ${seconds}s each, $jobs at a time"
running=0
for h in "${harnesses[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$h" &
  running=$((running + 1))
done
wait

status=0
for h in "${harnesses[@]}"; do
  log="$dir/logs/$h.log"
  rc=$(cat "$dir/logs/$h.rc" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  line=$(printf '%-16s %8s exec/s %10s executions' "$h" "${rate:-?}" "${execs:-?}")
  if [ "$rc" -ne 0 ]; then
    status=1
    line="$line  FAILED (exit $rc, log $log)"
    grep -E "^==[0-9]+==ERROR|^SUMMARY|runtime error|invariant broken|Test unit written" "$log" | head -20 || true
  fi
  echo "$line"
done
exit $status
