#!/usr/bin/env bash
# The real application in a real X11 window (Xvfb), worked with real key presses through the
# X server and no pointer event at all:
#  1. Tab to the list of version folders, move to the other folder and choose it; Ctrl+O opens
#     the ZIP panel, the path is typed and confirmed with Enter; in the install sheet, Tab to the
#     game-closed box, tick it with Space, Tab to the install button and press it.
#  2. Tab to a WTF backup's actions, open its menu, choose "选择恢复范围…", move to the
#     character in the scope list, choose it and confirm.
#  3. Start the application again as the desktop's "open with" starts it, with the ZIP as its
#     argument: it must preview it on its own and change nothing.
# The add-ons must land in the chosen folder only, and the restore must bring back the
# character's settings and nothing else. Where the focus is, is read from Qt's focus log.
#
#   keyboard-under-xvfb.sh OLVEX-MANAGER OLVEX
set -euo pipefail
app=$(realpath "$1")
cli=$(realpath "$2")
if [ -z "${OLVEX_UNDER_XVFB:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1400x1000x24" env OLVEX_UNDER_XVFB=1 "$0" "$app" "$cli"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/olvex-keys-XXXXXX")
[ -n "${OLVEX_KEEP_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Olvex" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

games=$work/games/wow
retail=$games/_retail_ classic=$games/_classic_
for folder in "$retail" "$classic"; do
  mkdir -p "$folder/Interface/AddOns/Old"
  printf '## Title: Old\n' >"$folder/Interface/AddOns/Old/Old.toc"
done
touch "$retail/Wow.exe" "$classic/WowClassic.exe"
character=$retail/WTF/Account/ACC/Realm/Hero
mkdir -p "$character/SavedVariables" "$retail/WTF/Account/ACC/SavedVariables"
printf 'Hero = "before"\n' >"$character/SavedVariables/Hero.lua"
printf 'Account = "before"\n' >"$retail/WTF/Account/ACC/SavedVariables/Account.lua"
"$cli" backup-wtf "$retail" >/dev/null 2>&1
printf 'Hero = "after"\n' >"$character/SavedVariables/Hero.lua"
printf 'Account = "after"\n' >"$retail/WTF/Account/ACC/SavedVariables/Account.lua"
mkdir -p "$work/pack/Fresh"
printf '## Title: Fresh\n' >"$work/pack/Fresh/Fresh.toc"
# In the home folder, where the panel opens: only the file's short name is typed.
(cd "$work/pack" && bsdtar --format zip -cf "$HOME/fresh.zip" Fresh)
settings=$XDG_CONFIG_HOME/Olvex/OlvexManager.ini
printf '[General]\nOlvex.selectedRoots=%s\n' "$work/games" >"$settings"
classicBefore=$(cd "$classic" && find . | sort)

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
focuslog=$work/focus.log
# The object name of the item that has the keyboard focus now, from Qt's focus log.
focused() {
  grep -o 'activeFocusItem .* -> [^ ]*, name="[^"]*"' "$focuslog" | tail -1 | sed 's/.*name="\([^"]*\)"$/\1/'
}
window() { xdotool search --onlyvisible --name "Kelvarn" | head -1; }
key() {
  xdotool windowfocus --sync "$(window)" key "$@"
  sleep 0.3
}
# Presses Tab until the item named $1 has the focus.
tab_to() {
  for _ in $(seq 40); do
    [ "$(focused)" = "$1" ] && return 0
    key Tab
  done
  echo "Tab 未能到达 $1（焦点在 $(focused)）" >&2
  return 1
}
logged() { grep -q "$1" "$settings"; }
fail() {
  echo "$1" >&2
  xdotool search --onlyvisible --name "" getwindowname %@ >&2 || true
  exit 1
}

QT_LOGGING_RULES="qt.quick.focus=true" QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software "$app" 2>"$focuslog" &
pid=$!
wait_for 60 window
# Choosing waits for the first scan: the list holds both folders then.
wait_for 60 grep -q 'name="clientRow"' "$focuslog" || true
# The list is sorted by path, the first folder chosen by default: the second is _retail_.
tab_to clientRow || fail "无法用 Tab 到达游戏版本列表"
key Home Down space
# Ctrl+O is ignored until the choice has reached the model, so it is pressed until the panel opens.
panel() { xdotool search --onlyvisible --name "导入本地插件整合包"; }
for _ in $(seq 30); do
  key ctrl+o
  if wait_for 4 panel; then break; fi
done
panel >/dev/null || fail "Ctrl+O 没有打开 ZIP 面板"
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
wait_for 120 outcome || fail "预览没有结束"
[ "$(outcome)" = "导入 ZIP：成功" ] || fail "预览未成功：$(outcome)"
tab_to sheetGameClosedCheck || fail "无法用 Tab 到达安装面板的确认框"
key space
tab_to installButton || fail "无法用 Tab 到达安装按钮"
key space
wait_for 120 logged "安装插件：成功" || fail "安装没有成功"
[ -f "$retail/Interface/AddOns/Fresh/Fresh.toc" ] || fail "插件没有装进所选的版本目录"
[ "$classicBefore" = "$(cd "$classic" && find . | sort)" ] || fail "安装改动了另一个版本目录"

# The backup list holds, newest first, the automatic backup of the install (add-ons) and the
# WTF backup made above: the second row's actions are the WTF backup's.
tab_to backupActionsButton || fail "无法用 Tab 到达备份操作"
key Tab
[ "$(focused)" = backupActionsButton ] || fail "Tab 未能到达第二个备份的操作（焦点在 $(focused)）"
# Space opens the menu with no item current; Down walks its items.
key space
for _ in $(seq 10); do
  [ "$(focused)" = chooseScopeItem ] && break
  key Down
done
[ "$(focused)" = chooseScopeItem ] || fail "菜单中无法用方向键到达“选择恢复范围…”"
key space
wait_for 30 logged "选择恢复范围：成功" || fail "恢复范围没有列出"
tab_to scopeList || fail "无法用 Tab 到达恢复范围列表"
key End space
tab_to confirmScopeButton || fail "无法用 Tab 到达恢复范围的确认按钮"
key space
wait_for 120 logged "恢复备份：成功" || fail "恢复没有成功"
grep -q '"before"' "$character/SavedVariables/Hero.lua" || fail "角色配置没有恢复"
grep -q '"after"' "$retail/WTF/Account/ACC/SavedVariables/Account.lua" || fail "恢复改动了所选范围以外的文件"
kill -TERM "$pid"
wait "$pid"

QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software "$app" "$HOME/fresh.zip" &
pid=$!
previews() { [ "$(grep -o "导入 ZIP：成功" "$settings" | wc -l)" -eq "$1" ]; }
wait_for 120 previews 2
kill -TERM "$pid"
wait "$pid"
[ "$classicBefore" = "$(cd "$classic" && find . | sort)" ] || fail "预览改动了游戏目录"
echo "只用键盘：选择版本、安装、按角色恢复均通过；打开方式预览成功，其他目录未改动。"
