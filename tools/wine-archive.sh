#!/usr/bin/env bash
# The archive commands of gamedb.exe and idb2txt.exe under Wine, against
# the Linux build: listing, extracting, changing an archive (through a
# rename, and in place under the undo journal when large), unpack and pack
# of a whole archive, output safety (names equal but for case, NUL, a link in
# the output folder),
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

# An archive past 16 MiB is changed in place under its undo journal: the
# first member keeps its bytes, the grown member goes after it, a removal
# cuts the file; no journal is left.
head -c 17000000 /dev/urandom >big.bin
printf 'small' >small.txt
"$native/gamedb" --quiet res create big.res big.bin small.txt
cp big.res big-before.res
printf 'a small member that grew' >small.txt
win gamedb.exe --quiet res replace big.res small.txt || fail "res replace in a large archive exited with $?"
cmp -s -i 16 -n 17000000 big.res big-before.res || fail "replacing in a large archive moved the other member"
win gamedb.exe --quiet res remove big.res small.txt || fail "res remove in a large archive exited with $?"
[[ $(stat -c %s big.res) -lt $(stat -c %s big-before.res) ]] || fail "the removal did not cut the large archive"
[[ ! -e big.res~undo ]] || fail "the undo journal was left behind"
"$native/gamedb" --quiet res extract big.res -o big-out && cmp -s big-out/big.bin big.bin || fail "the large member changed"
rm -f big.bin big.res big-before.res && rm -rf big-out
echo "wine-archive: a large archive changed in place"

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

# Output safety on Windows: two members equal but for case, a device name
# as the target, a link (reparse point) inside the output folder.
python3 - "Дубли.res" <<'PY'
import struct, sys
names = ["карта.txt".encode("cp1251"), "КАРТА.TXT".encode("cp1251")]
data, table, pool, offsets = b"", [None, None], b"", []
for n in names:
    offsets.append(16 + len(data)); data += b"x".ljust(16, b"\0")
home = sum(bytes(c + 32 if 65 <= c <= 90 else c for c in names[0])) % 2
slots = [home, 1 - home]
entries = [b""] * 2
for i, n in enumerate(names):
    nxt = slots[1] if i == 0 else -1
    entries[slots[i]] = struct.pack("<iIIiHI", nxt, 1, offsets[i], 0, len(n), len(pool)); pool += n
table_offset = 16 + len(data)
open(sys.argv[1], "wb").write(struct.pack("<IIII", 0x019CE23C, 2, table_offset, len(pool)) + data + b"".join(entries) + pool)
PY
status=0
win gamedb.exe res extract "Дубли.res" -o "Дубли" 2>err.txt || status=$?
[[ $status -eq 1 && ! -e "Дубли" ]] || fail "two members equal but for case: exit status $status, expected 1 and no folder"
grep -q 'would be the same file' err.txt || fail "two members equal but for case: $(cat err.txt)"
status=0
win gamedb.exe pack "Мод" NUL 2>err.txt || status=$?
[[ $status -eq 1 ]] || fail "pack onto NUL: exit status $status, expected 1"
grep -q 'not a regular file' err.txt || fail "pack onto NUL: $(cat err.txt)"
# Wine shows a symbolic link to a folder as a reparse point, as Windows shows a junction.
mkdir -p "Снаружи" "Вывод"
printf 'своё' >"Снаружи/карта.txt"
ln -s ../Снаружи "Вывод/Квесты"
status=0
win gamedb.exe res extract "Архив.res" -o "Вывод" 2>err.txt || status=$?
[[ $status -eq 1 ]] || fail "a link in the output folder: exit status $status, expected 1"
grep -q 'is a link; refusing to write through it' err.txt || fail "a link in the output folder: $(cat err.txt)"
[[ $(cat "Снаружи/карта.txt") == своё ]] || fail "extract wrote through a link out of the output folder"
echo "wine-archive: names equal but for case, NUL as a target and a link out of the output folder are refused"
