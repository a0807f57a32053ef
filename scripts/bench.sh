#!/usr/bin/env bash
# Runs every benchmark and prints one table: each of our figures beside the standard tool
# doing the same work on the same data in the same run, as a ratio (ours / tool; below 1 is
# faster). Absolute times on these shared machines are noise, so our runs alternate with the
# tool's (A B A B ...), every run writes into a folder of its own, and the table shows medians.
# Output of earlier runs is removed only at the very end: creating files right after a large
# delete is several times slower.
#
#   scripts/bench.sh                 all rows, OLVEX_BENCH_RUNS (default 5) runs of each side
#   scripts/bench.sh extract_large   only the rows named (a group name, such as "growth",
#                                    names the rows growth_5k, growth_20k, growth_80k)
#
# Adding a row: write prepare_<row> (makes its input once below $data, reusing what is there)
# and run_<row> <side> <folder> (runs one measured run of side "ours" or "base" writing below
# <folder>, printing the JSON of a Google Benchmark binary), then list the row in `rows` with
# the label of its baseline and a description. A benchmark that also reports "freed_s" (the
# time until the space of what it replaced is given back) gets a second line for that figure, and
# one that reports "disk_ratio" (disk use over one copy's) a line for that.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${OLVEX_BENCH_RUNS:-5}
build=build-bench
work=${OLVEX_BENCH_DIR:-$build/work}
data=$work/data
out=$work/runs-$(date +%Y%m%d-%H%M%S)

# name | baseline label | what it measures
rows=(
  "extract_large|bsdtar -x|ZIP 解压：单个 ${OLVEX_BENCH_LARGE_MB:=512} MiB 文件"
  "extract_many|bsdtar -x|ZIP 解压：2,000 个约 8 KiB 文件（插件包规模）"
  "install|bsdtar -x + 2×cp -r + sync|安装整合包：约 5,000 个文件装入约 20,000 个文件的插件目录（预览 + 安装，至完成）"
  "install_again|bsdtar -x + 2×cp -r + sync|再次安装整合包（更新）：同上，插件目录已装过一次，上次的自动备份在库中（新备份与之共用未改动的文件）"
  "growth_5k|bsdtar -x + 2×cp -r + sync|安装耗时随插件目录增长：同一整合包装入约 5,000 个文件的插件目录"
  "growth_20k|bsdtar -x + 2×cp -r + sync|安装耗时随插件目录增长：同一整合包装入约 20,000 个文件的插件目录"
  "growth_80k|bsdtar -x + 2×cp -r + sync|安装耗时随插件目录增长：同一整合包装入约 80,000 个文件的插件目录"
  "snapshot|cp -r + sync|WTF 备份：约 20,000 个文件的 WTF 目录（backupWTF）"
  "snapshot_again_0|cp -r + sync|第二次 WTF 备份：约 20,000 个文件均未改动（与上一份共用）"
  "snapshot_link|cp -al + sync|第二次 WTF 备份（均未改动）对比单线程只建同样的硬链接（cp -al 上一份 + sync）"
  "snapshot_again_1|cp -r + sync|第二次 WTF 备份：约 20,000 个文件中 1% 改动"
  "snapshot_disk|cp -r + sync|五次 WTF 备份（每次之间 1% 改动）的总耗时，对比一次复制"
  "snapshot_mixed_0|cp -r + sync|第二次备份：约 20,000 个 256 B–128 KiB 文件（共约 420 MB）均未改动"
  "snapshot_mixed_link|cp -al + sync|同上，对比单线程只建同样的硬链接（cp -al 上一份 + sync）"
  "snapshot_mixed_1|cp -r + sync|第二次备份：约 20,000 个 256 B–128 KiB 文件中 1% 改动"
  "snapshot_mixed_disk|cp -r + sync|五次备份约 20,000 个 256 B–128 KiB 文件（每次之间 1% 改动）的总耗时，对比一次复制"
  "inventory|find + cat|插件列表：1,000 个插件文件夹（真实 .toc 文件），每次调用"
  "backup_details|du -sb|备份列表与大小：100 份未记录大小的备份，每次调用"
  "scan|find|默认扫描：含 100,000 个文件夹的主目录（Lutris、Steam、Bottles 前缀与文档）"
  "digest_small|openssl dgst -sha256|SHA-256 摘要：12,000 个 0.2–24 KB 文件"
  "digest_large|openssl dgst -sha256|SHA-256 摘要：4 个 96 MiB 文件"
  "digest_mixed|openssl dgst -sha256|SHA-256 摘要：以上两者同一目录树"
  "savedvars_cat|cat|插件配置检查：WTF 中 2,000 个 SavedVariables 文件共 300 MB（对照 cat 读取，读盘下限）"
  "savedvars_luac|luac5.1 -p|插件配置检查：其中 1,990 个小文件共 120 MB（对照 Lua 5.1 编译器，它无法处理 10 个大文件）"
)

# Every benchmark binary, and nothing of the application.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOLVEX_BUILD_BENCH=ON -DOLVEX_BUILD_APP=OFF \
  -DOLVEX_BUILD_CLI=OFF >/dev/null
cmake --build "$build" >/dev/null
mkdir -p "$data" "$out"
trap 'rm -rf "$out"' EXIT

# --- rows -------------------------------------------------------------------------------

# Text-like data (base64 of random bytes) compresses about as well as add-on code does.
prepare_extract_large() {
  local zip=$data/large-${OLVEX_BENCH_LARGE_MB}.zip
  [ -f "$zip" ] && return
  local src=$data/large-src
  rm -rf "$src" && mkdir -p "$src"
  head -c $((OLVEX_BENCH_LARGE_MB * 1024 * 1024 * 3 / 4)) /dev/urandom | base64 -w 76 >"$src/large.txt"
  bsdtar -c --format zip -f "$zip.tmp" -C "$src" large.txt && mv "$zip.tmp" "$zip"
  rm -rf "$src"
}

prepare_extract_many() {
  local zip=$data/many.zip
  [ -f "$zip" ] && return
  local src=$data/many-src
  rm -rf "$src"
  for d in $(seq -w 1 100); do
    mkdir -p "$src/Addon$d"
    # 120,000 random bytes as base64 make 20 files of at most 8 KiB.
    head -c 120000 /dev/urandom | base64 -w 76 |
      split -b 8192 -d -a 2 --additional-suffix=.lua - "$src/Addon$d/File"
  done
  (cd "$src" && bsdtar -c --format zip -f "../many.zip.tmp" Addon*) && mv "$zip.tmp" "$zip"
  rm -rf "$src"
}

extract_run() { # <zip> <side> <folder>
  local filter=extract_zip/ours
  [ "$2" = base ] && filter=extract_zip/bsdtar
  "$build/bench/bench_extract_zip" --archive="$1" --into="$3" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
run_extract_large() { extract_run "$data/large-${OLVEX_BENCH_LARGE_MB}.zip" "$@"; }
run_extract_many() { extract_run "$data/many.zip" "$@"; }

# Add-on folders as players have them: many small Lua files in nested folders.
make_addons() { # <folder> <add-ons> <files per add-on> <prefix>
  local folder=$1 count=$2 files=$3 prefix=$4 a f
  mkdir -p "$folder"
  for a in $(seq -w 1 "$count"); do
    local addon="$folder/$prefix$a"
    mkdir -p "$addon/Libs" "$addon/Locales"
    printf '## Interface: 110000\n## Title: %s\n' "$prefix$a" >"$addon/$prefix$a.toc"
    head -c $((files * 3000)) /dev/urandom | base64 -w 76 |
      split -b 4096 -d -a 3 --additional-suffix=.lua - "$addon/Libs/File"
    ls "$addon/Libs" | tail -n +$((files - 1)) | while read -r extra; do rm "$addon/Libs/$extra"; done
  done
}

prepare_install() {
  [ -f "$data/install-pack.zip" ] && [ -d "$data/install-live" ] && return
  rm -rf "$data/install-pack-src" "$data/install-live"
  make_addons "$data/install-pack-src/AddOns" 50 100 Pack
  make_addons "$data/install-live" 200 100 Live
  (cd "$data/install-pack-src" && bsdtar -c --format zip -f ../install-pack.zip.tmp AddOns) &&
    mv "$data/install-pack.zip.tmp" "$data/install-pack.zip"
  rm -rf "$data/install-pack-src"
}

install_run() { # <add-on folder template> <side> <folder> [benchmark]
  local filter=${4:-install}/ours
  [ "$2" = base ] && filter=${4:-install}/tools
  "$build/bench/bench_install" --pack="$data/install-pack.zip" --live="$1" --into="$3" \
    --benchmark_filter="^$filter(/|\$)" --benchmark_format=json 2>/dev/null
}
run_install() { install_run "$data/install-live" "$@"; }
prepare_install_again() { prepare_install; }
run_install_again() { install_run "$data/install-live" "$1" "$2" install_again; }

# The same pack into add-on folders of 5,000, 20,000 (the install row's) and 80,000 files.
prepare_growth() { # <add-ons> <folder>
  prepare_install
  [ -d "$2" ] && return
  rm -rf "$2.tmp"
  make_addons "$2.tmp" "$1" 100 Live
  mv "$2.tmp" "$2"
}
prepare_growth_5k() { prepare_growth 50 "$data/install-live-5k"; }
prepare_growth_20k() { prepare_install; }
prepare_growth_80k() { prepare_growth 800 "$data/install-live-80k"; }
run_growth_5k() { install_run "$data/install-live-5k" "$@"; }
run_growth_20k() { install_run "$data/install-live" "$@"; }
run_growth_80k() { install_run "$data/install-live-80k" "$@"; }

# Saved variables are many small Lua files in nested folders, as add-ons are.
prepare_snapshot() {
  [ -d "$data/snapshot-wtf" ] && return
  rm -rf "$data/snapshot-wtf.tmp"
  make_addons "$data/snapshot-wtf.tmp/Account/PLAYER" 200 100 Realm
  mv "$data/snapshot-wtf.tmp" "$data/snapshot-wtf"
}
run_snapshot() {
  local filter=snapshot/ours
  [ "$1" = base ] && filter=snapshot/tools
  "$build/bench/bench_snapshot" --wtf="$data/snapshot-wtf" --into="$2" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
prepare_snapshot_again_0() { prepare_snapshot; }
prepare_snapshot_again_1() { prepare_snapshot; }
prepare_snapshot_disk() { prepare_snapshot; }
snapshot_run() { # <our benchmark> <side> <folder>
  local filter=$1
  [ "$2" = base ] && filter=snapshot/tools
  "$build/bench/bench_snapshot" --wtf="$data/snapshot-wtf" --into="$3" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
run_snapshot_again_0() { snapshot_run snapshot_again/ours/0 "$@"; }
prepare_snapshot_link() { prepare_snapshot; }
run_snapshot_link() { # our second backup of the unchanged folder beside cp -al
  local filter=snapshot_again/ours/0
  [ "$1" = base ] && filter=snapshot_link/tools
  "$build/bench/bench_snapshot" --wtf="$data/snapshot-wtf" --into="$2" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
run_snapshot_again_1() { snapshot_run snapshot_again/ours/1 "$@"; }
run_snapshot_disk() { snapshot_run snapshot_disk/ours "$@"; }
# The same backups of files of the sizes players' folders have (bench_snapshot --make-mixed).
prepare_snapshot_mixed() {
  [ -d "$data/snapshot-mixed" ] && return
  rm -rf "$data/snapshot-mixed.tmp"
  "$build/bench/bench_snapshot" --make-mixed="$data/snapshot-mixed.tmp"
  mv "$data/snapshot-mixed.tmp" "$data/snapshot-mixed"
}
prepare_snapshot_mixed_0() { prepare_snapshot_mixed; }
prepare_snapshot_mixed_link() { prepare_snapshot_mixed; }
prepare_snapshot_mixed_1() { prepare_snapshot_mixed; }
prepare_snapshot_mixed_disk() { prepare_snapshot_mixed; }
mixed_run() { # <our benchmark> <baseline benchmark> <side> <folder>
  local filter=$1
  [ "$3" = base ] && filter=$2
  "$build/bench/bench_snapshot" --wtf="$data/snapshot-mixed" --into="$4" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
run_snapshot_mixed_0() { mixed_run snapshot_again/ours/0 snapshot/tools "$@"; }
run_snapshot_mixed_link() { mixed_run snapshot_again/ours/0 snapshot_link/tools "$@"; }
run_snapshot_mixed_1() { mixed_run snapshot_again/ours/1 snapshot/tools "$@"; }
run_snapshot_mixed_disk() { mixed_run snapshot_disk/ours snapshot/tools "$@"; }
# The listings only read: every run reads the same prepared folders.
prepare_inventory() { "$build/bench/bench_inventory" --data="$data/listings" --prepare=1; }
prepare_backup_details() { prepare_inventory; }

listing_run() { # <benchmark prefix> <side> <baseline benchmark>
  local filter=$1/ours
  [ "$2" = base ] && filter=$1/$3
  "$build/bench/bench_inventory" --data="$data/listings" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
run_inventory() { listing_run inventory "$1" find_cat; }
run_backup_details() { listing_run backup_details "$1" du; }
# The scan only reads: every run reads the same home.
prepare_scan() { "$build/bench/bench_scan" --home="$data/scan-home" --prepare=1; }
run_scan() {
  local filter=scan/ours
  [ "$1" = base ] && filter=scan/find
  "$build/bench/bench_scan" --home="$data/scan-home" --benchmark_filter="^$filter(/|\$)" --benchmark_format=json 2>/dev/null
}
# The digest rows read one tree, made once; making it also checks that both sides agree on
# every file. The runs only read, so they share it.
prepare_digest_tree() {
  [ -d "$data/digest-tree" ] && return
  rm -rf "$data/digest-tree.tmp"
  "$build/bench/bench_file_digests" --make-tree="$data/digest-tree.tmp"
  mv "$data/digest-tree.tmp" "$data/digest-tree"
}
prepare_digest_small() { prepare_digest_tree; }
prepare_digest_large() { prepare_digest_tree; }
prepare_digest_mixed() { prepare_digest_tree; }

digest_run() { # <tree> <side> <folder>
  local filter=file_digests/ours
  [ "$2" = base ] && filter=file_digests/openssl
  "$build/bench/bench_file_digests" --tree="$1" --benchmark_filter="^$filter(/|\$)" --benchmark_format=json 2>/dev/null
}
run_digest_small() { digest_run "$data/digest-tree/small" "$@"; }
run_digest_large() { digest_run "$data/digest-tree/large" "$@"; }
run_digest_mixed() { digest_run "$data/digest-tree" "$@"; }

# The saved-variables check reads one prepared WTF; the runs only read, so they share it.
prepare_savedvars() { "$build/bench/bench_saved_variables" --data="$data/savedvars" --prepare=1; }
prepare_savedvars_luac() { prepare_savedvars; }
prepare_savedvars_cat() { prepare_savedvars; }
savedvars_run() { # <benchmark> <baseline> <side>
  local filter=$1/ours
  [ "$3" = base ] && filter=$1/$2
  "$build/bench/bench_saved_variables" --data="$data/savedvars" --benchmark_filter="^$filter(/|\$)" \
    --benchmark_format=json 2>/dev/null
}
run_savedvars_luac() { savedvars_run saved_variables_small luac "$1"; }
run_savedvars_cat() { savedvars_run saved_variables cat "$1"; }

# --- driver -------------------------------------------------------------------------------

# Reads a Google Benchmark JSON report: "<real time in s> <peak RSS in KiB>" of its first benchmark.
figures() {
  local json=$1
  if grep -q '"error_occurred": true' <<<"$json"; then
    echo "benchmark failed: $(grep -o '"error_message": "[^"]*"' <<<"$json")" >&2
    exit 1
  fi
  local time unit rss
  time=$(grep -m1 -o '"real_time": [0-9.e+-]*' <<<"$json" | awk '{print $2}')
  unit=$(grep -m1 -o '"time_unit": "[a-z]*"' <<<"$json" | awk -F'"' '{print $4}')
  rss=$(grep -m1 -o '"peak_rss_kb": [0-9.e+-]*' <<<"$json" | awk '{print $2}')
  if [ -z "$time" ] || [ -z "$rss" ]; then
    echo "benchmark reported nothing" >&2
    exit 1
  fi
  awk -v t="$time" -v u="$unit" -v r="$rss" \
    'BEGIN { s = (u == "ns") ? 1e-9 : (u == "us") ? 1e-6 : (u == "ms") ? 1e-3 : 1; printf "%.6f %d\n", t * s, r }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

wanted() {
  [ $# -eq 0 ] && return 0
  local r
  for r in "$@"; do [ "$r" = "$row" ] || [ "$r" = "${row%_*}" ] && return 0; done
  return 1
}

table=()
for spec in "${rows[@]}"; do
  IFS='|' read -r row baseline label <<<"$spec"
  wanted "${@}" || continue
  "prepare_$row"
  : >"$out/$row.ours" && : >"$out/$row.base"
  for i in $(seq 1 "$runs"); do
    for side in ours base; do
      json=$("run_$row" "$side" "$out/$row/$i-$side")
      figures "$json" >>"$out/$row.$side"
      # The install reports, besides its time until it finishes, the time until its background
      # deletion has given back the space of what it replaced.
      grep -m1 -o '"freed_s": [0-9.e+-]*' <<<"$json" | awk '{print $2}' >>"$out/$row.freed" || true
      # Backups that share files report what the store takes on disk over one copy (du).
      grep -m1 -o '"disk_ratio": [0-9.e+-]*' <<<"$json" | awk '{print $2}' >>"$out/$row.disk" || true
    done
    echo "$row: run $i/$runs" >&2
  done
  ours_time=$(awk '{print $1}' "$out/$row.ours" | median)
  base_time=$(awk '{print $1}' "$out/$row.base" | median)
  ours_rss=$(awk '{print $2}' "$out/$row.ours" | median)
  base_rss=$(awk '{print $2}' "$out/$row.base" | median)
  table+=("$(awk -v l="$label" -v b="$baseline" -v ot="$ours_time" -v bt="$base_time" -v orss="$ours_rss" \
    -v brss="$base_rss" -v n="$runs" 'BEGIN {
      printf "| %s | %d | %.3f | %s %.3f | %.2f | %.1f | %.1f |", l, n, ot, b, bt, ot / bt, orss / 1024, brss / 1024 }')")
  if [ -s "$out/$row.freed" ]; then
    freed_time=$(median <"$out/$row.freed")
    table+=("$(awk -v l="$label" -v b="$baseline" -v ft="$freed_time" -v bt="$base_time" -v n="$runs" 'BEGIN {
      printf "| %s：至空间全部释放（被替换目录与暂存目录在后台删除完毕） | %d | %.3f | %s %.3f | %.2f | | |", l, n, ft, b, bt, ft / bt }')")
  fi
  if [ -s "$out/$row.disk" ]; then
    table+=("$(awk -v l="$label" -v r="$(median <"$out/$row.disk")" -v n="$runs" 'BEGIN {
      printf "| %s：磁盘占用（du，五份备份 / 一份 WTF） | %d | | | %.2f | | |", l, n, r }')")
  fi
done

echo
echo "| 基准 | 次数 | 本程序（秒，中位数） | 基线（秒，中位数） | 比值 | 本程序峰值内存 MiB | 基线峰值内存 MiB |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${table[@]}"
