#!/usr/bin/env bash
# Saves PNGs of the main window without a display, to check how the window looks.
#
#   scripts/screenshot.sh [--xvfb] [--build DIR] [--out FILE.png] [-- olvex-screenshot options]
#   scripts/screenshot.sh --states FOLDER [--xvfb] [--build DIR]
#
# By default it draws offscreen (QT_QPA_PLATFORM=offscreen, software renderer) over a demo
# folder tree made for the run (scripts/demo-tree.sh: a retail folder with add-ons, a managed
# pack, a retired add-on and backups, beside two empty version folders), so neither the real
# default roots nor the user's saved roots are touched. --xvfb draws a real X11 window under
# Xvfb instead. Options after "--" go to olvex-screenshot, e.g.
#   -- --root /path/to/games --select "/path/to/games/World of Warcraft/_retail_"
#   -- --state install-sheet --zip some.zip
# (--root replaces the demo tree; see `olvex-screenshot --help`). --states saves one PNG per
# state a player meets (main window, welcome, install sheet, an error inside it, scope picker by
# scope and by add-on, restore and clean-up confirmations, the error alert, the recovery box and
# a journal it cannot roll back, a search, the add-on settings healthy and damaged, the repair
# confirmation) into FOLDER.
# The build directory defaults to build/ (release), configured and built as needed.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=offscreen
build=build
out=screenshots/main-window.png
states=""
while [ $# -gt 0 ]; do
  case "$1" in
    --xvfb) mode=xvfb; shift ;;
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --states) states=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "用法：scripts/screenshot.sh [--xvfb] [--build DIR] [--out FILE.png | --states FOLDER] [-- 选项]" >&2; exit 2 ;;
  esac
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target olvex-screenshot olvex >/dev/null
tool=$build/app/olvex-screenshot
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export QT_QUICK_BACKEND=software

demo=""
cleanup() { if [ -n "$demo" ]; then rm -rf "$demo"; fi; }
trap cleanup EXIT
make_demo() {
  demo=$(mktemp -d)
  ./scripts/demo-tree.sh "$demo" "$build/app/olvex"
  retail="$demo/World of Warcraft/_retail_"
}

shoot() { # PNG, then olvex-screenshot options
  local png=$1
  shift
  mkdir -p "$(dirname "$png")"
  case "$mode" in
    offscreen) QT_QPA_PLATFORM=offscreen "$tool" --out "$png" "$@" ;;
    xvfb) xvfb-run -a -s "-screen 0 1600x1900x24" env QT_QPA_PLATFORM=xcb "$tool" --out "$png" "$@" ;;
  esac
}

if [ -z "$states" ]; then
  extra=("$@")
  if ! printf '%s\n' "${extra[@]}" | grep -qx -- '--root'; then
    make_demo
    extra+=(--root "$demo" --select "$retail" --zip "$demo/packs/团队副本助手-3.0.zip")
  fi
  shoot "$out" "${extra[@]}"
  exit 0
fi

make_demo
on_retail=(--root "$demo" --select "$retail")
for state in main install-sheet sheet-error scope-picker addon-scope-picker restore-dialog retired-dialog error-alert search busy settings; do
  shoot "$states/$state.png" "${on_retail[@]}" --state "$state" --zip "$demo/packs/团队副本助手-3.0.zip"
done
shoot "$states/health.png" "${on_retail[@]}" --state health
# Add-on settings as the game leaves them after a crash: one cut off inside a string (its own
# .lua.bak is healthy), one emptied (the WTF backup holds it), one broken with no copy anywhere.
account="$retail/WTF/Account/WOWPLAYER"
printf 'WeakAurasSaved = {\n  ["displays"] = {\n    ["团队减伤"] = "未完' >"$account/艾露恩/法师小明/SavedVariables/WeakAuras.lua"
printf 'WeakAurasSaved = {}\n' >"$account/艾露恩/法师小明/SavedVariables/WeakAuras.lua.bak"
: >"$account/SavedVariables/Details.lua"
printf 'PlaterDB = {\n  profile = = 1\n}\n' >"$account/SavedVariables/Plater.lua"
shoot "$states/health-damaged.png" "${on_retail[@]}" --state health
shoot "$states/repair-dialog.png" "${on_retail[@]}" --state repair-dialog
empty=$(mktemp -d -p "$demo")
shoot "$states/welcome.png" --root "$empty"
# An interrupted transaction: a journal naming the newest WTF backup, as a crash leaves it.
backup=$("$build/app/olvex" backups "$retail" --json |
  awk '/"id":/ { id = $2 } /"kind": "wtf"/ { gsub(/[",]/, "", id); print id; exit }')
printf '{"kind":"wtf","backup":"%s"}' "$backup" >"$retail/.olvex-manager/active.json"
shoot "$states/recovery.png" "${on_retail[@]}"
# A journal that names a backup which is not there: recovery cannot roll it back, and says why.
printf '{"kind":"wtf","backup":"00000000-0000-4000-8000-000000000000"}' >"$retail/.olvex-manager/active.json"
shoot "$states/recovery-attention.png" "${on_retail[@]}"
