#!/usr/bin/env bash
# The real application in a real X11 window (Xvfb), worked with real key presses through the
# X server: Ctrl+O opens the ZIP panel, the path is typed and confirmed with Enter, and the
# preview sheet's operation must end in the operation log as a success. Then the application is
# started again as the desktop's "open with" starts it, with the ZIP as its argument, and must
# preview it on its own. Nothing in the game folder may change: a preview only reads.
#
#   keyboard-under-xvfb.sh OLVEX-MANAGER
set -euo pipefail
app=$(realpath "$1")
if [ -z "${OLVEX_UNDER_XVFB:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1400x1000x24" env OLVEX_UNDER_XVFB=1 "$0" "$app"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/olvex-keys-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Olvex" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

retail=$work/games/wow/_retail_
mkdir -p "$retail/Interface/AddOns/Old" "$work/pack/Fresh"
touch "$retail/Wow.exe"
printf '## Title: Old\n' >"$retail/Interface/AddOns/Old/Old.toc"
printf '## Title: Fresh\n' >"$work/pack/Fresh/Fresh.toc"
# In the home folder, where the panel opens: only the file's short name is typed.
(cd "$work/pack" && bsdtar --format zip -cf "$HOME/fresh.zip" Fresh)
settings=$XDG_CONFIG_HOME/Olvex/OlvexManager.ini
printf '[General]\nOlvex.selectedRoots=%s\n' "$work/games" >"$settings"
before=$(cd "$retail" && find . | sort)

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "等待超时：$*" >&2
  return 1
}

QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software "$app" &
pid=$!
wait_for 60 xdotool search --onlyvisible --name "Kelvarn"
# Ctrl+O is ignored until the first scan has selected a folder, so it is pressed until the
# panel opens.
panel() { xdotool search --onlyvisible --name "导入本地插件整合包"; }
for _ in $(seq 30); do
  xdotool search --onlyvisible --name "Kelvarn" windowfocus --sync key ctrl+o
  if wait_for 4 panel; then break; fi
done
panel >/dev/null
xdotool search --onlyvisible --name "导入本地插件整合包" windowfocus --sync
sleep 0.5
xdotool type --delay 50 "fresh.zip"
outcome() { grep -o "导入 ZIP：[^,]*" "$settings" | grep -v "开始"; }
# Enter, again while the panel stays open: the first one may only take the path completer's
# suggestion.
for _ in $(seq 10); do
  xdotool key Return
  if wait_for 5 outcome; then break; fi
  if ! panel >/dev/null; then break; fi
  xdotool search --onlyvisible --name "导入本地插件整合包" windowfocus --sync
done
if ! wait_for 120 outcome; then
  echo "打开的窗口：" >&2
  xdotool search --onlyvisible --name "" getwindowname %@ >&2 || true
  exit 1
fi
[ "$(outcome)" = "导入 ZIP：成功" ] || { echo "预览未成功：$(outcome)" >&2; exit 1; }
kill -TERM "$pid"
wait "$pid"

QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software "$app" "$HOME/fresh.zip" &
pid=$!
previews() { [ "$(grep -o "导入 ZIP：成功" "$settings" | wc -l)" -eq "$1" ]; }
wait_for 120 previews 2
kill -TERM "$pid"
wait "$pid"

grep -q "导入 ZIP：开始" "$settings"
after=$(cd "$retail" && find . | sort)
[ "$before" = "$after" ] || { echo "预览改动了游戏目录" >&2; exit 1; }
echo "键盘路径与打开方式均通过：两次预览成功，游戏目录未改动。"
