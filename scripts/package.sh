#!/usr/bin/env bash
# Builds the Debian package of the application and the command-line tool from a release build
# (build/) with CPack, into build/package/, and shows its control data and contents. The
# dependencies are computed: libraries by dpkg-shlibdeps from the binaries, Qt Quick modules
# from the QML imports (cmake/OlvexPackage.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh release
rm -rf build/package
cpack --config build/CPackConfig.cmake -B build/package >/dev/null
deb=$(ls build/package/*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "软件包：$deb"
