#!/usr/bin/env bash
# Configures and builds one variant: "release" (the application and the CLI) or "test"
# (everything, with tests, sanitizers, fault injection and warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
variant=${1:-release}
jobs=$(nproc)
case "$variant" in
  release)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j "$jobs"
    ;;
  test)
    cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOLVEX_BUILD_TESTS=ON \
      -DOLVEX_SANITIZE=ON -DOLVEX_FAULT_INJECTION=ON -DOLVEX_WERROR=ON \
      -DOLVEX_BUILD_APP=ON -DOLVEX_BUILD_CLI=ON -DOLVEX_BUILD_BENCH=OFF >/dev/null
    cmake --build build-test -j "$jobs"
    ;;
  *)
    echo "用法：scripts/build.sh [release|test]" >&2
    exit 2
    ;;
esac
