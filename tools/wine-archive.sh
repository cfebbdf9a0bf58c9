#!/usr/bin/env bash
# The archive commands of gamedb.exe and idb2txt.exe under Wine, against
# the Linux build: listing, extracting, changing an archive in place (the
# rename over the old archive), unpack and pack of a whole archive,
# ARCHIVE:MEMBER behind a drive letter, idb2txt on an archive; Cyrillic
# member and file names throughout.
#
#   tools/wine-archive.sh [OPTIONS] BUILD_DIR   (a MinGW build or the unzipped package;
#                                               options: tools/wine-env.sh)
#
# Needs build/default (the Linux gamedb, idb2txt and make_gamedb). No display needed.
set -euo pipefail

suite="wine archive"
source "$(dirname "$0")/wine-env.sh"
native=$root/build/default
work=$work_root/wine-archive

fail() {
  echo "wine-archive: FAILED: $*" >&2
  exit 1
}

for needed in "$build/gamedb.exe" "$build/idb2txt.exe" "$native/gamedb" "$native/idb2txt" "$native/make_gamedb"; do
  [[ -x $needed ]] || fail "missing $needed"
done

rm -rf "$work"
win() { timeout 60 "$WINE" "$build/$1" "${@:2}" </dev/null; }

wine_prefix_up
cd "$work"
mkdir -p "Квесты"
"$native/make_gamedb" items "Items.idb" 5
"$native/make_gamedb" units "Квесты/Юниты.udb" 6
printf 'карта\r\n' >"Квесты/карта.txt"
"$native/gamedb" --quiet res create "Архив.res" Items.idb "Квесты/Юниты.udb" "Квесты/карта.txt"

win gamedb.exe --quiet res list "Архив.res" | tr -d '\r' >wine-list.txt || fail "res list exited with $?"
"$native/gamedb" --quiet res list "Архив.res" >linux-list.txt
cmp -s wine-list.txt linux-list.txt || fail "res list differs from the Linux build's"

win gamedb.exe --quiet res extract "Архив.res" -o "Распаковано" || fail "res extract exited with $?"
"$native/gamedb" --quiet res extract "Архив.res" -o linux-extracted
diff -r linux-extracted "Распаковано" >/dev/null || fail "res extract wrote other files than the Linux build"
echo "wine-archive: list and extract as on Linux"

# Changes rename the new archive over the old one.
printf 'новая карта\r\n' >"новая.txt"
win gamedb.exe --quiet res replace "Архив.res" "новая.txt" --as "КВЕСТЫ/КАРТА.TXT" || fail "res replace exited with $?"
win gamedb.exe --quiet res remove "Архив.res" items.idb || fail "res remove exited with $?"
win gamedb.exe --quiet res add "Архив.res" Items.idb --as "Данные\\Items.idb" || fail "res add exited with $?"
"$native/gamedb" --quiet res extract "Архив.res" -o changed
cmp -s "changed/Квесты/карта.txt" "новая.txt" || fail "the replaced member has other bytes"
cmp -s "changed/Данные/Items.idb" Items.idb || fail "the added member has other bytes"
[[ ! -e changed/Items.idb ]] || fail "the removed member is still there"
[[ $(ls | grep -c '\.tmp$' || true) -eq 0 ]] || fail "a temporary file was left behind"
echo "wine-archive: replace, remove and add change the archive in place"

# A whole archive unpacked and packed back, byte for byte.
cp "Архив.res" "Копия.res"
win gamedb.exe --quiet unpack "Архив.res" "Мод" || fail "unpack of the archive exited with $?"
win gamedb.exe --quiet pack "Мод" "Архив.res" || fail "pack of the archive exited with $?"
cmp -s "Архив.res" "Копия.res" || fail "unpack then pack changed the archive"
echo "wine-archive: unpack and pack of the archive byte-identical"

# ARCHIVE:MEMBER behind a drive letter, and idb2txt on the archive.
drive_path="Z:$(pwd | tr / '\\')\\Архив.res"
# The generated database has irregular nodes: both builds find the same problems.
win gamedb.exe check "$drive_path:данные/items.idb" 2>/dev/null | tr -d '\r' | head -n -1 >wine-check.txt || true
"$native/gamedb" check "Архив.res:данные/items.idb" 2>/dev/null | head -n -1 >linux-check.txt || true
cmp -s wine-check.txt linux-check.txt || fail "check of ARCHIVE:MEMBER reports other problems than on Linux"
# idb2txt reads the layout of the bundled sample.
cp "$root/samples/Items.idb" "Образец.idb"
"$native/gamedb" --quiet res create "Образец.res" "Квесты/карта.txt" "Образец.idb"
win idb2txt.exe --quiet "Образец.res" "Таблицы" || fail "idb2txt on the archive exited with $?"
"$native/idb2txt" --quiet "Образец.idb" linux-tables
diff -r linux-tables "Таблицы" >/dev/null || fail "idb2txt on the archive wrote other tables than on the file"
echo "wine-archive: ARCHIVE:MEMBER with a drive letter, idb2txt on the archive"
