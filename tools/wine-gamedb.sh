#!/usr/bin/env bash
# gamedb.exe under wine64: unpack and pack of a generated database of every
# kind, with Cyrillic file and folder names; the database must come back
# byte for byte and the tables must equal those of the Linux build.
#
#   tools/wine-gamedb.sh BUILD_DIR      (an x86_64 MinGW build, e.g. build/mingw-x86_64)
#
# Needs build/default (the Linux gamedb and make_gamedb). No display needed.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
program=$build/gamedb.exe
native=$root/build/default
work=$build/wine-gamedb

fail() {
  echo "wine-gamedb: FAILED: $*" >&2
  exit 1
}

for needed in "$program" "$native/gamedb" "$native/make_gamedb"; do
  [[ -x $needed ]] || fail "missing $needed"
done

rm -rf "$work"
mkdir -p "$work/home"
export WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8 HOME=$work/home   # plain C mangles Cyrillic arguments
trap 'timeout 30 "$WINESERVER" -k 2>/dev/null || true' EXIT

cd "$work"
timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true   # makes the prefix
for kind in items levers perks prints spells units quests acks; do
  db="База $kind.bin"
  "$native/make_gamedb" "$kind" "$db" 7
  timeout 60 "$WINE" "$program" --quiet --kind "$kind" unpack "$db" "Таблицы $kind" </dev/null ||
    fail "$kind: unpack exited with $?"
  "$native/gamedb" --quiet --kind "$kind" unpack "$db" "linux-$kind"
  diff -r "linux-$kind" "Таблицы $kind" >/dev/null || fail "$kind: the tables differ from the Linux build's"
  cp "$db" "Снова $kind.bin"   # pack must replace an existing file
  timeout 60 "$WINE" "$program" --quiet pack "Таблицы $kind" "Снова $kind.bin" </dev/null ||
    fail "$kind: pack exited with $?"
  cmp -s "$db" "Снова $kind.bin" || fail "$kind: the packed database differs from the original"
  echo "wine-gamedb: $kind: unpack and pack byte-identical, tables as on Linux"
done
# A bad cell fails with status 1 and leaves the target alone.
printf 'x' >"Цель.bin"
printf 'a\tb\tmany\t\t\r\n' >>"Таблицы perks/skills.txt"   # name, code, icon_index, base_attributes, ~extra
status=0
timeout 60 "$WINE" "$program" pack "Таблицы perks" "Цель.bin" </dev/null 2>err.txt || status=$?
[[ $status -eq 1 ]] || fail "bad cell: exit status $status, expected 1"
grep -q 'bad cell' err.txt || fail "bad cell: no message: $(cat err.txt)"
[[ $(cat "Цель.bin") == x ]] || fail "bad cell: the target was changed"
echo "wine-gamedb: a bad cell fails with status 1 and leaves the target alone"
