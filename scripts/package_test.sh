#!/usr/bin/env bash
# Installs the build as users get it and runs the installed programs: `cmake --install` into a
# fresh prefix (every file in its place), then the Debian package with dpkg -i (serflash
# --version, serflash demo and serflash-gui --version from /usr/bin), and removes it again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: FAIL: $*"; exit 1; }
passed=0
ok() { echo "package test: $*"; passed=$((passed + 1)); }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/serflash bin/serflash-gui share/applications/serflash.desktop \
         share/icons/hicolor/scalable/apps/serflash.svg share/mime/packages/serflash.xml \
         share/man/man1/serflash.1 share/man/man1/serflash-gui.1 share/bash-completion/completions/serflash; do
  [ -s "$work/prefix/$f" ] || fail "cmake --install left out $f"
done
for sub in $("$work/prefix/bin/serflash" --help | awk '/^Subcommands:$/ {on = 1; next} on && /^  [^ ]/ {print $1}'); do
  grep -q "^\.SS \"serflash $sub\"" "$work/prefix/share/man/man1/serflash.1" || fail "serflash.1 lacks $sub"
done
grep -q "scan|" "$work/prefix/share/bash-completion/completions/serflash" || fail "completion lacks the subcommands"
if command -v man >/dev/null; then
  man -l "$work/prefix/share/man/man1/serflash.1" 2>/dev/null | grep -q -- '--threshold' || fail "serflash.1 does not read"
fi
# The completion offers the subcommands and each one's options.
words=$(bash -c "source '$work/prefix/share/bash-completion/completions/serflash'
  COMP_WORDS=(serflash sc); COMP_CWORD=1; _serflash; echo \${COMPREPLY[*]}
  COMP_WORDS=(serflash catalog --o); COMP_CWORD=2; _serflash; echo \${COMPREPLY[*]}")
[ "$words" = "$(printf 'scan\n--out')" ] || fail "completion offered: $words"
ok "cmake --install: programs, desktop entry, icon, file type, manual pages, completion"

(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack -G DEB"
deb=$(ls -t "$build"/serflash_*.deb | head -n 1)
version=$(sed -n 's/^project(serflash VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "no worked-out dependencies: $(dpkg-deb -f "$deb" Depends)"
dpkg -i "$deb" >/dev/null || fail "dpkg -i"
trap 'dpkg -r serflash >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
[ "$(/usr/bin/serflash --version)" = "serflash $version" ] || fail "installed serflash --version"
(cd "$work" && /usr/bin/serflash demo >demo.txt 2>&1) || fail "installed serflash demo: $(tail -5 "$work/demo.txt")"
[ "$(/usr/bin/serflash-gui --version | tr -s ' ')" = "serflash $version" ] ||
  fail "installed serflash-gui --version: $(/usr/bin/serflash-gui --version 2>&1)"
dpkg -r serflash >/dev/null || fail "dpkg -r"
[ ! -e /usr/bin/serflash ] || fail "/usr/bin/serflash left after removal"
ok "the package $(basename "$deb") installs, runs (--version, demo, serflash-gui --version) and is removed"
echo "packaging: $passed passed, 0 failed"
