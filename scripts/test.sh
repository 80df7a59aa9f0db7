#!/usr/bin/env bash
# Every test: set up, build and run the tests normally, then again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# A comma-decimal locale, so that the tests can show output never follows it.
loc=$(mktemp -d)
if localedef -i de_DE -f UTF-8 "$loc/de_DE.UTF-8" 2>/dev/null; then export LOCPATH="$loc"; fi

bash scripts/build.sh build -DQSX_BENCH=ON
ctest --test-dir build --output-on-failure -j2

bash scripts/build.sh build-asan -DQSX_SANITIZE=ON -DQSX_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j2

# Fuzzing, bounded: each harness about a minute (FUZZ_SECONDS), under the sanitizers.
bash scripts/fuzz.sh
