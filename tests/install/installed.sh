#!/usr/bin/env bash
# Checks of the installed tree, one contract per call:
#
#   installed.sh CHECK ROOT BUILD APP_ID VERSION
#
# "setup" installs the build folder BUILD into ROOT (as DESTDIR, prefix /usr, the package's
# layout); every other CHECK reads ROOT and fails with a message saying what is wrong.
set -euo pipefail
check=$1 root=$2 build=$3 id=$4 version=$5
usr=$root/usr

fail() {
  echo "$*" >&2
  exit 1
}

# Width of a PNG from its header (bytes 16-19, big-endian).
png_width() { od -An -tu1 -j16 -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }

case "$check" in
  setup)
    rm -rf "$root"
    DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
    ;;

  layout)
    # Exactly these files: nothing of the build (tools, libraries, headers, QML files) besides.
    expected=(
      bin/olvex
      bin/olvex-manager
      "share/applications/$id.desktop"
      share/bash-completion/completions/olvex
      "share/icons/hicolor/scalable/apps/$id.svg"
      share/man/man1/olvex.1.gz
      "share/metainfo/$id.metainfo.xml"
    )
    for size in 16 24 32 48 64 128 256 512; do
      expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
    done
    diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$usr" && find . ! -type d | sed 's|^\./||' | sort) ||
      fail "installed files differ from the expected layout (< expected, > installed)"
    for program in olvex olvex-manager; do
      [ -x "$usr/bin/$program" ] || fail "$program is not executable"
    done
    for png in "$usr"/share/icons/hicolor/*x*/apps/"$id".png; do
      size=$(basename "$(dirname "$(dirname "$png")")")
      [ "$(png_width "$png")x$(png_width "$png")" = "$size" ] || fail "$png is $(png_width "$png") pixels wide"
    done
    ;;

  desktop-entry)
    entry=$usr/share/applications/$id.desktop
    desktop-file-validate "$entry"
    # The entry starts an installed program and names the installed icon.
    exec_line=$(sed -n 's/^Exec=//p' "$entry")
    [ -x "$usr/bin/${exec_line%% *}" ] || fail "Exec=$exec_line names no installed program"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon names no installed icon"
    ;;

  appstream)
    appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml"
    # The tree check adds what one file cannot show: the launchable names an installed entry.
    appstreamcli validate-tree --no-net "$usr"
    ;;

  version)
    # Before the window system starts: no display is needed.
    [ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/olvex" --version)" = "olvex $version" ] ||
      fail "olvex --version does not print olvex $version"
    [ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/olvex-manager" --version)" = "olvex-manager $version" ] ||
      fail "olvex-manager --version does not print olvex-manager $version"
    ;;

  app-starts)
    # The installed window loads (its QML module is linked in, Qt's come from the system) when
    # the desktop opens a ZIP with it. The program quits cleanly on SIGTERM once its event loop
    # runs and exits with 1 at once if the window fails to load; the signal is sent as soon as
    # /proc shows its handler, so no guess of a start-up time is involved.
    home=$(mktemp -d)
    trap 'rm -rf "$home"' EXIT
    cd "$home"
    HOME=$home XDG_CONFIG_HOME=$home/.config QT_QUICK_BACKEND=software \
      ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} "$usr/bin/olvex-manager" -platform offscreen "$home/pack.zip" &
    pid=$!
    for _ in $(seq 600); do
      mask=$(sed -n 's/^SigCgt:\s*//p' "/proc/$pid/status" 2>/dev/null) || break
      [ -n "$mask" ] && (((16#$mask >> 14) & 1)) && break # bit 14: SIGTERM (15)
      sleep 0.05
    done
    kill -TERM "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "olvex-manager ended with status $status"
    ;;

  manual)
    page=$usr/share/man/man1/olvex.1.gz
    warnings=$(MANWIDTH=200 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports: $warnings"
    text=$(MANWIDTH=200 man -l "$page")
    # Every command of the program's help is on the page.
    while read -r usage; do
      grep -qF -- "$usage" <<<"$text" || fail "the manual page lacks: $usage"
    done < <("$usr/bin/olvex" help | sed -n 's/^  \(olvex .*\)/\1/p')
    ;;

  completion)
    complete_words() { # <words…>: what completing the last word offers
      PATH=$usr/bin:$PATH bash -c 'source "$0"; COMP_WORDS=("${@}"); COMP_CWORD=$(($# - 1)); _olvex olvex
        printf "%s\n" "${COMPREPLY[@]}"' "$usr/share/bash-completion/completions/olvex" "$@"
    }
    [ "$(complete_words olvex remove-r)" = remove-retired ] || fail "olvex remove-r does not complete to remove-retired"
    [ "$(complete_words olvex install DIR --y)" = --yes ] || fail "olvex install DIR --y does not complete to --yes"
    ;;

  *) fail "unknown check: $check" ;;
esac
