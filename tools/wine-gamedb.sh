#!/usr/bin/env bash
# gamedb.exe under Wine: unpack and pack of a generated database of every
# kind (animation databases too), with Cyrillic file and folder names; the
# database must come back
# byte for byte and the tables must equal those of the Linux build.
#
#   tools/wine-gamedb.sh [OPTIONS] BUILD_DIR   (a MinGW build or the unzipped package;
#                                              options: tools/wine-env.sh)
#
# Needs build/default (the Linux gamedb and make_gamedb). No display needed.
set -euo pipefail

suite="wine gamedb"
source "$(dirname "$0")/wine-env.sh"
program=$build/gamedb.exe
native=$root/build/default
work=$work_root/wine-gamedb

fail() {
  echo "wine-gamedb: FAILED: $*" >&2
  exit 1
}

for needed in "$program" "$native/gamedb" "$native/make_gamedb"; do
  [[ -x $needed ]] || fail "missing $needed"
done

rm -rf "$work"
wine_prefix_up
cd "$work"
for kind in items levers perks prints spells units quests acks anims; do
  db="База $kind.bin"
  "$native/make_gamedb" "$kind" "$db" 7
  timeout 60 "$WINE" "$program" --quiet --kind "$kind" unpack "$db" "Таблицы $kind" </dev/null ||
    fail "$kind: unpack exited with $?"
  "$native/gamedb" --quiet --kind "$kind" unpack "$db" "linux-$kind"
  # The manifest's source line names the database as each system spells its path.
  diff -r -I $'^source\t' "linux-$kind" "Таблицы $kind" >/dev/null || fail "$kind: the tables differ from the Linux build's"
  cp "$db" "Снова $kind.bin"   # pack must replace an existing file
  timeout 60 "$WINE" "$program" --quiet pack "Таблицы $kind" "Снова $kind.bin" </dev/null ||
    fail "$kind: pack exited with $?"
  cmp -s "$db" "Снова $kind.bin" || fail "$kind: the packed database differs from the original"
  echo "wine-gamedb: $kind: unpack and pack byte-identical, tables as on Linux"
done
# A database whose blocks are large enough for unpack's second thread.
"$native/make_gamedb" --size 4000000 units "Большая.udb"
timeout 120 "$WINE" "$program" --quiet unpack "Большая.udb" "Большая" </dev/null || fail "large: unpack exited with $?"
"$native/gamedb" --quiet unpack "Большая.udb" "linux-large"
diff -r -I $'^source\t' "linux-large" "Большая" >/dev/null || fail "large: the tables differ from the Linux build's"
timeout 120 "$WINE" "$program" --quiet pack "Большая" "Большая-снова.udb" </dev/null || fail "large: pack exited with $?"
cmp -s "Большая.udb" "Большая-снова.udb" || fail "large: the packed database differs from the original"
echo "wine-gamedb: a 4 MB database (blocks over 1 MiB, two threads) unpacks as on Linux and packs back byte-identical"

# A bad cell fails with status 1 and leaves the target alone.
printf 'x' >"Цель.bin"
printf 'a\tb\tmany\t\t\r\n' >>"Таблицы perks/skills.tsv"   # name, code, icon_index, base_attributes, ~extra
status=0
timeout 60 "$WINE" "$program" pack "Таблицы perks" "Цель.bin" </dev/null 2>err.txt || status=$?
[[ $status -eq 1 ]] || fail "bad cell: exit status $status, expected 1"
grep -q 'bad cell' err.txt || fail "bad cell: no message: $(cat err.txt)"
[[ $(cat "Цель.bin") == x ]] || fail "bad cell: the target was changed"
echo "wine-gamedb: a bad cell fails with status 1 and leaves the target alone"

# check and diff: the same report and exit status as the Linux build (the
# Windows one ends its lines with CR LF).
same_as_linux() {  # EXPECTED_STATUS ARGS...
  local expected=$1 status=0 native_status=0
  shift
  timeout 60 "$WINE" "$program" "$@" </dev/null >wine-out.txt 2>/dev/null || status=$?
  "$native/gamedb" "$@" >linux-out.txt 2>/dev/null || native_status=$?
  [[ $status -eq $expected && $native_status -eq $expected ]] ||
    fail "$*: exit status $status (Linux $native_status), expected $expected"
  tr -d '\r' <wine-out.txt | cmp -s - linux-out.txt || fail "$*: the report differs from the Linux build's"
}
"$native/make_gamedb" items "Предметы.idb" 3
"$native/make_gamedb" items "Предметы-мод.idb" 4
same_as_linux 1 check "Предметы.idb"
same_as_linux 0 diff "Предметы.idb" "Предметы.idb"
same_as_linux 1 diff "Предметы.idb" "Предметы-мод.idb"
same_as_linux 2 diff "Предметы.idb" "нет такого.idb"
"$native/make_gamedb" anims "Гоблин.adb" 3
"$native/make_gamedb" anims "Гоблин-мод.adb" 4
same_as_linux 0 diff "Гоблин.adb" "Гоблин.adb"
same_as_linux 1 diff "Гоблин.adb" "Гоблин-мод.adb"
echo "wine-gamedb: check and diff report and exit as on Linux"

# check of a set: random databases break many references; the same findings
# (by rule) and exit status as the Linux build. The folder walk is compared
# by rule only, as the two systems write the folder separator differently.
mkdir -p "Набор"
for kind in items units spells quests; do
  "$native/make_gamedb" "$kind" "Набор/$kind.bin" 5
done
mv "Набор/items.bin" "Набор/Items.idb"; mv "Набор/units.bin" "Набор/units.udb"
mv "Набор/spells.bin" "Набор/spells.sdb"; mv "Набор/quests.bin" "Набор/quests.qdb"
rules() { tr -d '\r' | grep -o '\[[RC][0-9]*\]$' | sort | uniq -c; }
status=0 native_status=0
timeout 60 "$WINE" "$program" check "Набор" </dev/null >wine-out.txt 2>/dev/null || status=$?
"$native/gamedb" check "Набор" >linux-out.txt 2>/dev/null || native_status=$?
[[ $status -eq 1 && $native_status -eq 1 ]] || fail "check of a set: exit status $status (Linux $native_status), expected 1"
[[ "$(rules <wine-out.txt)" == "$(rules <linux-out.txt)" && -n "$(rules <linux-out.txt)" ]] ||
  fail "check of a set: the findings differ from the Linux build's"
echo "wine-gamedb: check of a set reports and exits as on Linux"

# Workbooks: a database through a .xlsx written by the Windows build and read
# by both; an archive unpacked and packed back by dropping files on the program.
"$native/make_gamedb" --lookalikes units "Юниты.udb" 6
timeout 60 "$WINE" "$program" --quiet unpack "Юниты.udb" "Юниты.xlsx" </dev/null || fail "workbook: unpack exited with $?"
"$native/gamedb" --quiet pack "Юниты.xlsx" "linux-units.udb" || fail "workbook: the Linux build cannot pack the Windows build's workbook"
cmp -s "Юниты.udb" "linux-units.udb" || fail "workbook: packed on Linux, the database differs"
timeout 60 "$WINE" "$program" --quiet pack "Юниты.xlsx" "Снова.udb" </dev/null || fail "workbook: pack exited with $?"
cmp -s "Юниты.udb" "Снова.udb" || fail "workbook: the database packed from the workbook differs"
"$native/gamedb" --quiet res create "Архив.res" "Предметы.idb" "Юниты.udb" "Гоблин.adb"
cp "Архив.res" "Архив-было.res"
timeout 60 "$WINE" "$program" "Архив.res" </dev/null 2>err.txt || fail "dropped archive: exited with $?: $(cat err.txt)"
[[ -f "Архив.xlsx" ]] || fail "dropped archive: no Архив.xlsx beside it"
timeout 60 "$WINE" "$program" "Архив.xlsx" </dev/null 2>err.txt || fail "dropped workbook: exited with $?: $(cat err.txt)"
cmp -s "Архив.res" "Архив-было.res" || fail "dropped workbook: the archive changed"
cmp -s "Архив.res.bak" "Архив-было.res" || fail "dropped workbook: no backup Архив.res.bak"
echo "wine-gamedb: workbooks: a database and an archive byte for byte, by command and by dropped file"

# The community's workbook layout: an archive written into one by the Windows
# build, packed back into it by that build and by Linux's, byte for byte.
cp "Архив-было.res" "Сообщество.res"
timeout 60 "$WINE" "$program" --quiet --layout community unpack "Сообщество.res" "Сообщество.xlsx" </dev/null 2>err.txt ||
  fail "community layout: unpack exited with $?: $(cat err.txt)"
timeout 60 "$WINE" "$program" --quiet pack "Сообщество.xlsx" "Сообщество.res" </dev/null 2>err.txt ||
  fail "community layout: pack exited with $?: $(cat err.txt)"
cmp -s "Сообщество.res" "Архив-было.res" || fail "community layout: the archive changed"
"$native/gamedb" --quiet pack "Сообщество.xlsx" "Сообщество.res" || fail "community layout: the Linux build cannot pack it"
cmp -s "Сообщество.res" "Архив-было.res" || fail "community layout: packed on Linux, the archive changed"
echo "wine-gamedb: the community layout: an archive out and back byte for byte"
