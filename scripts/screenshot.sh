#!/usr/bin/env bash
# Saves a PNG of the main window without a display, to check how the window looks.
#
#   scripts/screenshot.sh [--xvfb] [--build DIR] [--out FILE.png] [-- olvex-screenshot options]
#
# By default it draws offscreen (QT_QPA_PLATFORM=offscreen, software renderer) over a demo
# folder tree made for the run (World of Warcraft/_retail_, _classic_, 魔兽世界/_classic_era_),
# so neither the real default roots nor the user's saved roots are touched. --xvfb draws a real
# X11 window under Xvfb instead. Options after "--" go to olvex-screenshot, e.g.
#   -- --root /path/to/games --select "/path/to/games/World of Warcraft/_retail_"
#   -- --saved /some/folder --width 900 --height 650
# (--root replaces the demo tree; see `olvex-screenshot --help`). The build directory defaults
# to build/ (release), configured and built as needed; --build build-test uses the test build.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=offscreen
build=build
out=screenshots/main-window.png
while [ $# -gt 0 ]; do
  case "$1" in
    --xvfb) mode=xvfb; shift ;;
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "用法：scripts/screenshot.sh [--xvfb] [--build DIR] [--out FILE.png] [-- 选项]" >&2; exit 2 ;;
  esac
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target olvex-screenshot >/dev/null
tool=$build/app/olvex-screenshot

extra=("$@")
demo=""
cleanup() { if [ -n "$demo" ]; then rm -rf "$demo"; fi; }
trap cleanup EXIT
if ! printf '%s\n' "${extra[@]}" | grep -qx -- '--root'; then
  demo=$(mktemp -d)
  mkdir -p "$demo/World of Warcraft/_retail_" "$demo/World of Warcraft/_classic_" "$demo/魔兽世界/_classic_era_"
  extra+=(--root "$demo")
fi

mkdir -p "$(dirname "$out")"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export QT_QUICK_BACKEND=software
case "$mode" in
  offscreen)
    QT_QPA_PLATFORM=offscreen "$tool" --out "$out" "${extra[@]}"
    ;;
  xvfb)
    xvfb-run -a -s "-screen 0 1400x1000x24" env QT_QPA_PLATFORM=xcb "$tool" --out "$out" "${extra[@]}"
    ;;
esac
