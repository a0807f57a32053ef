#!/usr/bin/env bash
# Builds a demo game tree for screenshots and manual tries, in the folder given (made if
# missing): World of Warcraft/_retail_ with add-ons, a WTF tree, two installed releases of a
# managed pack (so there are add-on backups, a managed pack and one retired add-on) and a WTF
# backup; World of Warcraft/_classic_ and 魔兽世界/_classic_era_ beside it. The next release of
# the pack is left as <folder>/packs/团队副本助手-3.0.zip for the install preview.
#
#   scripts/demo-tree.sh FOLDER [OLVEX]
#
# OLVEX is the command-line tool that makes the backups and installs (default build/app/olvex).
set -euo pipefail
root=$1
olvex=${2:-build/app/olvex}
game="$root/World of Warcraft"
retail="$game/_retail_"

toc() { # folder title version author [dependencies]
  mkdir -p "$1"
  {
    printf '## Interface: 110107\n## Title: %s\n## Version: %s\n## Author: %s\n' "$2" "$3" "$4"
    if [ -n "${5:-}" ]; then printf '## Dependencies: %s\n' "$5"; fi
    printf 'core.lua\n'
  } >"$1/$(basename "$1").toc"
  printf -- '-- %s\n' "$2" >"$1/core.lua"
}

mkdir -p "$retail" "$game/_classic_" "$root/魔兽世界/_classic_era_"
touch "$retail/Wow.exe" "$game/_classic_/WowClassic.exe"
addons="$retail/Interface/AddOns"
toc "$addons/Details" "Details! 伤害统计" "#Details.20250301" "Terciob"
toc "$addons/WeakAuras" "WeakAuras" "5.19.4" "The WeakAuras Team"
toc "$addons/Bartender4" "Bartender4 动作条" "4.15.2" "Nevcairiel"
toc "$addons/ItemRack" "ItemRack 装备管理" "4.22" "Gello"
account="$retail/WTF/Account/WOWPLAYER"
mkdir -p "$account/SavedVariables" "$account/艾露恩/法师小明/SavedVariables" "$account/艾露恩/牧师小红/SavedVariables"
printf 'SET locale "zhCN"\n' >"$retail/WTF/Config.wtf"
printf 'DetailsDB = {}\n' >"$account/SavedVariables/Details.lua"
printf 'WeakAurasSaved = {}\n' >"$account/艾露恩/法师小明/SavedVariables/WeakAuras.lua"
printf 'Bartender4DB = {}\n' >"$account/艾露恩/牧师小红/SavedVariables/Bartender4.lua"

# One release of the managed pack: its add-ons and its manifest, zipped.
release() { # version zip add-on…
  local version=$1 zip=$2 staging
  shift 2
  staging=$(mktemp -d)
  for name in "$@"; do
    toc "$staging/$name" "$name" "$version" "DBM Team" "DBM-Core"
  done
  printf '{"identifier":"demo.raid-helper","name":"团队副本助手","version":"%s","gameFlavor":"_retail_","source":"本地示例整合包"}' \
    "$version" >"$staging/.olvex-pack.json"
  (cd "$staging" && bsdtar --format zip -cf "$zip" .olvex-pack.json "$@")
  rm -rf "$staging"
}
mkdir -p "$root/packs"
packs=$(cd "$root/packs" && pwd)
release 1.0 "$packs/团队副本助手-1.0.zip" DBM-Core DBM-StatusBarTimers DBM-Raids-Legacy
release 2.0 "$packs/团队副本助手-2.0.zip" DBM-Core DBM-StatusBarTimers DBM-Raids-Current
release 3.0 "$packs/团队副本助手-3.0.zip" DBM-Core DBM-StatusBarTimers DBM-Raids-Current DBM-Challenges

export OLVEX_DEFAULT_ROOTS=""
"$olvex" install "$retail" "$packs/团队副本助手-1.0.zip" --yes >/dev/null 2>&1
"$olvex" install "$retail" "$packs/团队副本助手-2.0.zip" --yes >/dev/null 2>&1
"$olvex" backup-wtf "$retail" >/dev/null 2>&1
