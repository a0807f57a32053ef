#!/usr/bin/env bash
# Sets up the machine, builds the application and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release
exec ./build/app/olvex-manager "$@"
