#!/usr/bin/env bash
# Sets up the machine, builds the application and starts it. The same build makes the
# command-line tool, build/app/olvex (see README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release
exec ./build/app/olvex-manager "$@"
