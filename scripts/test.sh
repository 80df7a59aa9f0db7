#!/usr/bin/env bash
# Every test: set up, build and run the tests normally, then again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzzers for a
# bounded time. QSX_WERROR=ON (CI sets it) makes every warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# A comma-decimal locale, so that the tests can show output never follows it.
loc=$(mktemp -d)
if localedef -i de_DE -f UTF-8 "$loc/de_DE.UTF-8" 2>/dev/null; then export LOCPATH="$loc"; fi

werror=${QSX_WERROR:-OFF}
# Each build has a folder of its own and every option set, so that no other
# script's choices (run-example.sh turns the tests off in build/) carry over.
bash scripts/build.sh build-test -DQSX_TESTS=ON -DQSX_BENCH=ON -DQSX_SANITIZE=OFF -DQSX_FUZZ=OFF -DQSX_WERROR="$werror"
ctest --test-dir build-test --output-on-failure --no-tests=error -j2

bash scripts/build.sh build-asan -DQSX_TESTS=ON -DQSX_BENCH=OFF -DQSX_SANITIZE=ON -DQSX_FUZZ=OFF -DQSX_WERROR="$werror"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j2

# Fuzzing, bounded: each harness about a minute (FUZZ_SECONDS), under the sanitizers.
bash scripts/fuzz.sh

# The Windows build, its tests under Wine, and its output against the Linux command's.
bash scripts/test-windows.sh build-test/qsxexport
