#!/usr/bin/env bash
# Checks a built korvane .deb: its files, its control data, lintian (no
# errors), desktop-file-validate, appstreamcli validate, the manual pages
# (rendered without warnings) and the shell completions.
#   tests/packaging/check-package.sh PACKAGE.deb
# Exit status 0 when everything holds, 1 otherwise, 77 (skipped) when there
# is no package to check.
set -uo pipefail
deb=${1:-}
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "check-package: no package ${deb:-given} (scripts/package.sh makes it); skipped"
  exit 77
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root" || { echo "FAIL: not a package"; exit 1; }
r=$work/root

# files
for f in usr/bin/korvane usr/bin/korvane-cli \
  usr/share/applications/korvane.desktop \
  usr/share/icons/hicolor/scalable/apps/korvane.svg \
  usr/share/icons/hicolor/16x16/apps/korvane.png usr/share/icons/hicolor/48x48/apps/korvane.png \
  usr/share/icons/hicolor/256x256/apps/korvane.png \
  usr/share/man/man1/korvane.1.gz usr/share/man/man1/korvane-cli.1.gz \
  usr/share/bash-completion/completions/korvane-cli usr/share/zsh/vendor-completions/_korvane-cli \
  usr/share/doc/korvane/copyright usr/share/doc/korvane/changelog.gz \
  usr/share/doc/korvane/examples/korvane-watch@.service; do
  [ -e "$r/$f" ] || fail "missing /$f"
done
metainfo=$(find "$r/usr/share/metainfo" -name '*.metainfo.xml' | head -1)
[ -n "$metainfo" ] || fail "no AppStream metainfo"
[ "$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)" = "root/root" ] || fail "files not owned by root"
for png in "$r"/usr/share/icons/hicolor/*x*/apps/korvane.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  file "$png" | grep -q "${size/x/ x }," || fail "$png is not $size"
done
file "$r/usr/bin/korvane-cli" | grep -q "stripped" && ! file "$r/usr/bin/korvane-cli" | grep -q "not stripped" ||
  fail "korvane-cli is not stripped"
pass "files"

# control data: Depends computed from the programs' libraries
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libavcodec libavformat libavfilter libqt6core6 libqt6widgets6 libqt6sql6 libdvdnav liblua5.4 libasound2 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends names no $lib: $depends"
done
grep -q "libqt6sql6-sqlite" <<<"$depends" || fail "Depends lacks the SQLite driver"
[ "$(dpkg-deb -f "$deb" Package)" = korvane ] || fail "package name"
pass "control: Depends: $depends"

# the desktop entry offers the program for the media types the engine reads
mime=$(sed -n 's/^MimeType=//p' "$r/usr/share/applications/korvane.desktop")
for t in video/mp4 video/x-matroska video/x-msvideo video/mpeg video/mp2t audio/mpeg audio/flac audio/x-wav; do
  grep -q "$t;" <<<"$mime" || fail "MimeType lacks $t"
done
if desktop-file-validate "$r/usr/share/applications/korvane.desktop"; then pass "desktop-file-validate"; else fail "desktop-file-validate"; fi
if appstreamcli validate --no-net --explain "$metainfo" >"$work/appstream.log" 2>&1; then
  pass "appstreamcli validate"
else
  cat "$work/appstream.log"
  fail "appstreamcli validate"
fi
grep -q "<screenshot" "$metainfo" || fail "metainfo without a screenshot"

# manual pages render without warnings and cover the commands
for page in korvane korvane-cli; do
  warnings=$(MANWIDTH=80 man --warnings -l "$r/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
text=$(MANWIDTH=80 man -l "$r/usr/share/man/man1/korvane-cli.1.gz" 2>/dev/null)
for word in convert watch profiles categories probe dvd --once --recursive --category --set drawtext synth \
  "EXIT STATUS" EXAMPLES 130; do
  grep -q -- "$word" <<<"$text" || fail "korvane-cli(1) does not mention $word"
done
pass "manual pages"

# completions: valid scripts; bash completes commands and quoted profile names
bash -n "$r/usr/share/bash-completion/completions/korvane-cli" || fail "bash completion syntax"
if command -v zsh >/dev/null; then zsh -n "$r/usr/share/zsh/vendor-completions/_korvane-cli" || fail "zsh completion syntax"; fi
complete_words() { # the words bash would offer for a command line ending in a space or a word
  env -i PATH="$r/usr/bin:$PATH" HOME="$work" XDG_CONFIG_HOME="$work/config" bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _korvane_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$r/usr/share/bash-completion/completions/korvane-cli" "$@"
}
grep -qx "watch" <<<"$(complete_words korvane-cli wa)" || fail "bash completion of commands"
grep -qx -- "--once" <<<"$(complete_words korvane-cli watch --on)" || fail "bash completion of watch options"
grep -qF 'Apple\ TV\ H264\ Video\(320x240\)' <<<"$(complete_words korvane-cli convert a.mp4 -p apple)" ||
  fail "bash completion of profile names: $(complete_words korvane-cli convert a.mp4 -p apple | head -3)"
grep -qx "iPhone" <<<"$(complete_words korvane-cli profiles -c iph)" || fail "bash completion of categories"
pass "completions"

# lintian: no errors; the warnings it gives are printed
if command -v lintian >/dev/null; then
  lintian --fail-on error --display-info "$deb" >"$work/lintian.log" 2>&1
  status=$?
  sed 's/^/lintian: /' "$work/lintian.log"
  if [ $status -eq 0 ]; then pass "lintian: no errors"; else fail "lintian reports errors"; fi
else
  fail "lintian is not installed"
fi

[ $failures -eq 0 ] && echo "check-package: all checks passed" || echo "check-package: $failures check(s) failed"
[ $failures -eq 0 ]
