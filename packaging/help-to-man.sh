#!/bin/sh
# Writes the manual page olvex.1 (and olvex.1.gz, compressed as Debian installs manual pages)
# from the output of `olvex --help`, so the page says exactly what the program says:
#
#   help-to-man.sh OLVEX VERSION OUTPUT.1
#
# The help text's shape becomes the page's: its first line "olvex：…" the name, "用法：…" the
# synopsis, an unindented line ending in "：" a section, "  term" with an indented line below
# it or "term  text" (two spaces apart) a tagged paragraph, other lines plain paragraphs.
set -eu
olvex=$1 version=$2 out=$3

"$olvex" --help | awk -v version="$version" '
function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    if (text ~ /^[.\047]/) text = "\\&" text
    return text
}
function section(title) {
    print ".SH " roff(title)
    prose = 0
}
NR == 1 {
    print ".TH OLVEX 1 \"\" \"olvex " version "\" \"用户命令\""
    # Chinese text has no spaces to stretch or words to hyphenate: ragged right, no hyphens.
    print ".ad l"
    print ".nh"
    name = $0
    sub(/：.*/, "", name)
    summary = substr($0, length(name) + 1)
    sub(/^：/, "", summary)
    sub(/。$/, "", summary)
    section("名称")
    print roff(name) " \\- " roff(summary)
    next
}
/^$/ { ended = 1; next }
/^用法：/ { section("概要"); print roff(substr($0, length("用法：") + 1)); next }
/^[^ ].*：$/ { section(substr($0, 1, length($0) - length("："))); ended = 0; next }
/^      / { sub(/^ +/, ""); print roff($0); next }
/^ *[^ ]+  +/ {
    if (ended && !prose) { section("说明"); prose = 1 }
    term = $0
    sub(/^ +/, "", term)
    text = term
    sub(/ .*/, "", term)
    sub(/^[^ ]+ +/, "", text)
    print ".TP"
    print ".B " roff(term)
    print roff(text)
    next
}
/^  / { sub(/^ +/, ""); print ".TP"; print ".B " roff($0); next }
{
    if (ended && !prose) { section("说明"); prose = 1 }
    print ".PP"
    print roff($0)
}
' >"$out.tmp"
mv "$out.tmp" "$out"
gzip -9nc "$out" >"$out.gz"
