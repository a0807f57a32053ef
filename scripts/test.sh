#!/usr/bin/env bash
# Sets up the machine, builds the test variant and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh test
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
ctest --test-dir build-test --output-on-failure -j "$(nproc)" "$@"
