#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine: the real window, the
# real file, folder and message boxes, driven through window messages by
# tests/e2e/ui_driver. The tables it writes are compared byte for byte with
# the Linux command-line converter's.
#
#   tools/wine-e2e.sh BUILD_DIR      (an x86_64 MinGW build, e.g. build/mingw-x86_64)
#
# Needs build/default (the Linux idb2txt and make_sample) and the packages of
# tools/install-deps.sh. Leaves BUILD_DIR/e2e (databases, outputs, driver
# scripts and logs) and BUILD_DIR/screenshots. Stops at the first failure.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
program=$build/VevAzoverud.exe
driver=$build/tests/e2e/ui_driver.exe
native=$root/build/default
work=$build/e2e
shots=$build/screenshots

# The materials export yields once per field; this many materials keep it
# busy for about 5 s under Wine, long enough to act on the window meanwhile.
large_materials=${E2E_LARGE_MATERIALS:-12000}
driver_limit=240   # seconds for one driver run: a safety net, steps have their own timeouts

fail() {
  echo "wine-e2e: FAILED${scenario:+ in scenario $scenario}: $*" >&2
  exit 1
}

for needed in "$program" "$driver" "$native/idb2txt" "$native/make_sample"; do
  [[ -x $needed ]] || fail "missing $needed (build the preset, and build/default for the reference converter)"
done
for tool in Xvfb import timeout; do
  command -v "$tool" >/dev/null || fail "missing $tool: run tools/install-deps.sh"
done
locale -a | grep -qix 'ru_RU.utf-\?8' || fail "the locale ru_RU.UTF-8 is not generated: run tools/install-deps.sh"

# ---- Environment and helpers (winpath, begin, passed, drive, screenshot) ----
source "$root/tools/wine-env.sh"

began=$(date +%s)
rm -rf "$work" "$shots"
mkdir -p "$work/cwd" "$shots"
cd "$work/cwd"   # the program's current folder: checked for stray files too
wine_env_up

# ---- Helpers ---------------------------------------------------------------------
tables=(Materials.txt Weapons.txt Armors.txt QuickItems.txt QuestItems.txt LootItems.txt)

# The same database through the Linux converter, with the given separator.
reference() {
  local database=$1 out=$2 separator=$3
  mkdir -p "$out"
  "$native/idb2txt" --quiet --decimal-separator="$separator" "$database" "$out" || fail "the reference converter failed"
}

same_tables() {
  local got=$1 want=$2 table
  for table in "${tables[@]}"; do
    [[ -f $got/$table ]] || fail "$table was not written to $got"
    cmp -s "$got/$table" "$want/$table" ||
      fail "$got/$table differs from the reference: $(cmp "$got/$table" "$want/$table" 2>&1 | head -1)"
  done
  echo "    the six tables equal the reference converter's"
}

nothing_written() {
  local stray
  stray=$(find "$work" -newer "$work/since-$scenario" -type f \( -name Materials.txt -o -name Weapons.txt \
    -o -name Armors.txt -o -name QuickItems.txt -o -name QuestItems.txt -o -name LootItems.txt \) | head -5)
  [[ -z $stray ]] || fail "tables were written: $stray"
  echo "    no table written anywhere under $work"
}

# Seconds of the completion message in a driver log ("" when none).
elapsed_seconds() { sed -n 's/.*Прошло времени: \([0-9.,]*\) секунд.*/\1/p' "$1" | tail -1; }

main_title='^Vev Azoverud$'
done_title='^Операция завершена$'
prompt_text='^Укажите папку для распаковки$'
not_db_text='^Этот файл не является файлом Item DataBase!$'

# ---- Test data ---------------------------------------------------------------------
mkdir -p "$work/data"
sample=$work/data/Items.idb
large=$work/data/Large.idb
cp "$root/samples/Items.idb" "$sample"
"$native/make_sample" --materials="$large_materials" "$large" || fail "cannot write the large database"
{ printf '\002'; tail -c +2 "$sample"; } >"$work/data/NotItems.idb"   # all but the first byte right
: >"$work/data/Empty.idb"
for separator in . ,; do
  reference "$sample" "$work/reference-sample$separator" "$separator"
  reference "$large" "$work/reference-large$separator" "$separator"
done
P=$(winpath "$program")

# The whole command over a database through the real dialogs; SEPARATOR is
# the locale's, OPEN_STEP starts the command (a click or the menu entry).
convert_steps() {
  local database=$1 out=$2 separator=$3 open_step=$4
  local number="[0-9]+([$separator][0-9]+)?"
  cat <<EOF
$open_step
open-file "$(winpath "$database")"
msgbox "" "$prompt_text"
press-msgbox-ok
folder-select "$(winpath "$out")"
EOF
  echo "__RUN__"   # the caller's steps for the time of the run go here
  cat <<EOF
timeout 150000
msgbox "$done_title" "^Файл успешно распакован\\r\\nПрошло времени: $number секунд\$"
timeout 20000
EOF
}

# ---- Scenarios ---------------------------------------------------------------------
begin a "whole conversion of the sample through the file and folder dialogs (C.UTF-8)"
mkdir -p "$work/out-a"
drive a1 <<EOF
start "$P"
wait "title=$main_title"
expect-text IDC_COMMAND1 "^Распаковать Items\\.idb\$"
expect-text IDC_COMMAND2 "^Выход\$"
expect-text IDC_COMMAND3 "^О программе\$"
sleep 300
detach
EOF
screenshot main-window
drive a2 <<EOF
attach "$main_title"
$(convert_steps "$sample" "$work/out-a" . "click IDC_COMMAND1" | sed '/__RUN__/d')
sleep 300
detach
EOF
screenshot completion-sample
drive a3 <<EOF
attach "$main_title"
press-msgbox-ok
enabled IDC_COMMAND1 1
click IDC_COMMAND2
wait-exit 0
EOF
same_tables "$work/out-a" "$work/reference-sample."
passed

begin b "cancel in the file dialog: no message, nothing written"
drive b <<EOF
start "$P"
click IDC_COMMAND1
wait file-dialog
cancel-dialog
expect-none msgbox 1500
expect-none folder-dialog 10
enabled IDC_COMMAND1 1
close
wait-exit
EOF
nothing_written
passed

begin c "cancel in the folder dialog after the prompt: nothing written"
drive c <<EOF
start "$P"
click IDC_COMMAND1
open-file "$(winpath "$sample")"
msgbox "" "$prompt_text"
press-msgbox-ok
wait folder-dialog
cancel-dialog
expect-none msgbox 1500
enabled IDC_COMMAND1 1
close
wait-exit
EOF
nothing_written
passed

begin d "files that are not items databases, through the menu entry: the error message"
drive d <<EOF
start "$P"
menu "Распаковать Items.idb"
open-file "$(winpath "$work/data/NotItems.idb")"
msgbox "^Ошибка\$" "$not_db_text"
press-msgbox-ok
expect-none folder-dialog 1000
menu "Распаковать Items.idb"
open-file "$(winpath "$work/data/Empty.idb")"
msgbox "^Ошибка\$" "$not_db_text"
press-msgbox-ok
expect-none msgbox 1000
click IDC_COMMAND2
wait-exit
EOF
nothing_written
passed

begin e "the About box, by button and by menu, assembled from the controls"
drive e <<EOF
start "$P"
expect-text IDC_TEXT1 "^(?=[\\s\\S]{591}\$)[^\\r\\n]+\\r\\nдля распаковки и генерации исходных текстов \\r\\n[\\s\\S]*написать пакет утилит по их распаковке\\.\\r\\n\$"
expect-text IDC_TEXT2 "^Программа является примером для описания формата idb\\. Описание находится на сайте:\\r\\n\$"
capture text1 IDC_TEXT1
capture text2 IDC_TEXT2
capture label IDC_LABEL1
click IDC_COMMAND3
msgbox "^О программе\$" "^\${text1}\\r\\n\${text2}\${label}\\r\\n\\r\\n[^\\r\\n]+\$"
press-msgbox-ok
menu "О программе"
msgbox "^О программе\$" "^\${text1}\\r\\n\${text2}\${label}\\r\\n\\r\\n[^\\r\\n]+\$"
press-msgbox-ok
settext IDC_TEXT2 "Другое описание:\\r\\n"
menu "О программе"
msgbox "^О программе\$" "\\r\\nДругое описание:\\r\\n\${label}\\r\\n"
press-msgbox-ok
menu "Выход"
wait-exit
EOF
passed

begin f "a large database: controls off during the run, About box and a second command meanwhile"
mkdir -p "$work/out-f"
drive f1 <<EOF
start "$P"
$(convert_steps "$large" "$work/out-f" . "click IDC_COMMAND1" | sed '/__RUN__/,$d')
enabled IDC_COMMAND1 0
enabled IDC_COMMAND2 0
enabled IDC_COMMAND3 1
menu "Распаковать Items.idb"
expect-none file-dialog 1000
click IDC_COMMAND3
msgbox "^О программе\$" "Описание находится на сайте"
press-msgbox-ok
enabled IDC_COMMAND1 0
$(convert_steps "$large" "$work/out-f" . "" | sed '1,/__RUN__/d')
sleep 300
detach
EOF
screenshot completion-large
drive f2 <<EOF
attach "$main_title"
press-msgbox-ok
enabled IDC_COMMAND1 1
enabled IDC_COMMAND2 1
click IDC_COMMAND2
wait-exit 0
EOF
seconds=$(elapsed_seconds "$work/f1.log")
echo "    the run took $seconds s"
[[ ${seconds%%[.,]*} -ge 2 ]] ||
  fail "the large database converted in $seconds s: too fast to act during the run (raise E2E_LARGE_MATERIALS)"
same_tables "$work/out-f" "$work/reference-large."
passed

begin g "closing the window during the materials export"
mkdir -p "$work/out-g"
drive g <<EOF
start "$P"
$(convert_steps "$large" "$work/out-g" . "click IDC_COMMAND1" | sed '/__RUN__/,$d')
enabled IDC_COMMAND1 0
sleep 700
close
wait-exit
EOF
partial=$work/out-g/Materials.txt
full=$work/reference-large./Materials.txt
[[ -f $partial ]] || fail "no Materials.txt after closing during the run"
[[ ! -e $work/out-g/Weapons.txt ]] || fail "Weapons.txt was written: the close did not end the run"
partial_size=$(stat -c %s "$partial")
partial_lines=$(wc -l <"$partial")
((partial_size < $(stat -c %s "$full"))) || fail "Materials.txt is complete: the close did not end the run"
((partial_lines > 2)) || fail "Materials.txt holds $partial_lines lines: no rows beyond the header"
head -c "$partial_size" "$full" | cmp -s - "$partial" || fail "the partial Materials.txt is not the start of the full table"
echo "    Materials.txt kept $partial_lines of $(wc -l <"$full") lines, a prefix of the full table"
passed

begin h "the completion message and the tables in a Russian locale (decimal comma)"
export LC_ALL=ru_RU.UTF-8
mkdir -p "$work/out-h"
drive h <<EOF
start "$P"
$(convert_steps "$large" "$work/out-h" , 'menu "Распаковать Items.idb"' | sed '/__RUN__/d')
press-msgbox-ok
menu "Выход"
wait-exit 0
EOF
seconds_c=$seconds
seconds=$(elapsed_seconds "$work/h.log")
[[ $seconds == *,* || $seconds_c == *.* ]] ||
  echo "    note: both runs took whole seconds ($seconds_c, $seconds): no separator to see"
same_tables "$work/out-h" "$work/reference-large,"
passed
export LC_ALL=C.UTF-8

echo "--- all end-to-end scenarios passed in $(($(date +%s) - began)) s; screenshots in $shots"
