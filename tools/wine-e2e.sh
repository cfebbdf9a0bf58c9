#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine: the real window, the
# real file, folder and message boxes, driven through window messages by
# tests/e2e/ui_driver. The tables it writes are compared byte for byte with
# the Linux command-line converter's.
#
#   tools/wine-e2e.sh build/mingw-x86_64            (a MinGW build of either bitness)
#   tools/wine-e2e.sh --helpers build/mingw-i686 --work build/wine-i686 --label "i686 package" \
#     build/wine-i686/VevAzoverud-1.1.0-win32      (the release package unzipped)
#   E2E_ONLY="i l" tools/wine-e2e.sh BUILD_DIR     (only the scenarios named)
#
# Options: tools/wine-env.sh. Needs build/default (the Linux idb2txt and
# make_sample) and the packages of tools/install-deps.sh. Leaves WORK/e2e
# (databases, outputs, driver scripts and logs) and WORK/screenshots. Stops
# at the first failure.
set -euo pipefail

suite="wine e2e"
source "$(dirname "$0")/wine-env.sh"
program=$build/VevAzoverud.exe
driver=$helpers/tests/e2e/ui_driver.exe
native=$root/build/default
work=$work_root/e2e
shots=$work_root/screenshots

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

# Whether a scenario is to run: all of them unless E2E_ONLY names some.
want() { [[ -z ${E2E_ONLY:-} || " $E2E_ONLY " == *" $1 "* ]]; }

# ---- Scenarios ---------------------------------------------------------------------
if want a; then
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
fi

if want b; then
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
fi

if want c; then
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
fi

if want d; then
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
fi

if want e; then
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
fi

if want f; then
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
fi

if want g; then
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
fi

if want h; then
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
seconds_c=${seconds:-}
seconds=$(elapsed_seconds "$work/h.log")
[[ $seconds == *,* || $seconds_c == *.* ]] ||
  echo "    note: both runs took whole seconds ($seconds_c, $seconds): no separator to see"
same_tables "$work/out-h" "$work/reference-large,"
passed
export LC_ALL=C.UTF-8
fi

# ---- Keyboard, messages, the link and the command line's refusals -----------------
# Keys and mouse clicks are real input (SendInput), not window messages.

if want i; then
begin i "the keyboard: tab order both ways, out of Text1, the default border and Enter on each button"
drive i <<EOF
start "$P"
wait "title=$main_title"
focus IDC_COMMAND1
default-button IDC_COMMAND1
key tab
focus IDC_TEXT1
selection IDC_TEXT1 0 0
default-button none
key tab
focus IDC_COMMAND2
default-button IDC_COMMAND2
key tab
focus IDC_COMMAND3
default-button IDC_COMMAND3
key tab
focus IDC_COMMAND1
default-button IDC_COMMAND1
key shift+tab
focus IDC_COMMAND3
key shift+tab
focus IDC_COMMAND2
key shift+tab
focus IDC_TEXT1
selection IDC_TEXT1 0 0
key shift+tab
focus IDC_COMMAND1
default-button IDC_COMMAND1
key enter
wait file-dialog
cancel-dialog
expect-none msgbox 500
focus IDC_COMMAND1
key shift+tab
focus IDC_COMMAND3
key enter
msgbox "^О программе\$" "Описание находится на сайте"
press-msgbox-ok
focus IDC_COMMAND3
key tab
focus IDC_COMMAND1
key tab
focus IDC_TEXT1
key enter
expect-none msgbox 700
expect-none file-dialog 10
default-button none
key shift+tab
focus IDC_COMMAND1
key shift+tab
key shift+tab
focus IDC_COMMAND2
default-button IDC_COMMAND2
key enter
wait-exit 0
EOF
passed
fi

if want j; then
begin j "after a conversion the keyboard is free: the focus comes back to where it was"
mkdir -p "$work/out-j"
drive j <<EOF
start "$P"
focus IDC_COMMAND1
key enter
open-file "$(winpath "$sample")"
msgbox "" "$prompt_text"
press-msgbox-ok
folder-select "$(winpath "$work/out-j")"
msgbox "$done_title" "^Файл успешно распакован"
press-msgbox-ok
focus IDC_COMMAND1
default-button IDC_COMMAND1
key tab
focus IDC_TEXT1
menu "Распаковать Items.idb"
open-file "$(winpath "$sample")"
msgbox "" "$prompt_text"
press-msgbox-ok
folder-select "$(winpath "$work/out-j")"
msgbox "$done_title" "^Файл успешно распакован"
press-msgbox-ok
focus IDC_TEXT1
key tab
focus IDC_COMMAND2
key enter
wait-exit 0
EOF
same_tables "$work/out-j" "$work/reference-sample."
passed
fi

if want k; then
begin k "a name that does not exist, and a database that a table would overwrite: Ошибка, the database kept"
mkdir -p "$work/out-k"
cp "$sample" "$work/out-k/Armors.txt"
k_missing=$(winpath "$work/data/Нет такого.idb")
k_database=$(winpath "$work/out-k/Armors.txt")
k_missing_pattern=$(sed 's/[\\.]/\\&/g' <<<"$k_missing")
drive k <<EOF
start "$P"
click IDC_COMMAND1
open-file "$k_missing"
msgbox "^Ошибка\$" "^Не удалось открыть файл «$k_missing_pattern»: файл или папка не найдены\\.\$"
press-msgbox-ok
expect-none folder-dialog 500
click IDC_COMMAND1
open-file "$k_database"
msgbox "" "$prompt_text"
press-msgbox-ok
folder-select "$(winpath "$work/out-k")"
msgbox "^Ошибка\$" "^Таблица «[^»]*Armors\\.txt» оказалась бы самой базой данных «[^»]*Armors\\.txt» и уничтожила бы её\\. Выберите другую папку\\. Ничего не записано\\.\$"
press-msgbox-ok
enabled IDC_COMMAND1 1
focus IDC_COMMAND1
close
wait-exit
EOF
cmp -s "$sample" "$work/out-k/Armors.txt" || fail "the database Armors.txt was changed"
[[ $(ls "$work/out-k") == Armors.txt ]] || fail "tables were written beside the database: $(ls "$work/out-k")"
echo "    the database is unchanged and nothing was written beside it"
passed
fi

if want l; then
begin l "the link: one start of the Windows folder's explorer per click, a double click too; none from elsewhere"
# Decoys named explorer.exe beside the program and in the current folder
# (where the file dialog leaves it): starting one fails the scenario.
mkdir -p "$work/link-app"
cp "$program" "$work/link-app/"
cp "$driver" "$work/link-app/explorer.exe"
cp "$driver" "$work/cwd/explorer.exe"
# Wine names its own explorer by the copy in system32.
windows_explorer='^[Cc]:\\[Ww][Ii][Nn][Dd][Oo][Ww][Ss]\\([Ss]ystem32\\)?explorer\.exe$'
drive l <<EOF
start "$(winpath "$work/link-app/VevAzoverud.exe")"
wait "title=$main_title"
mouse IDC_LABEL1 double
children "$windows_explorer" 1
mouse IDC_LABEL1 click
children "$windows_explorer" 1
close
wait-exit
EOF
rm -f "$work/cwd/explorer.exe"
passed
fi

if want m; then
begin m "idb2txt.exe refuses a table that is the database itself, by name or by hard link (file identity on Windows)"
cli=$build/idb2txt.exe
mkdir -p "$work/m/out"
cp "$sample" "$work/m/out/QuestItems.txt"
cp "$sample" "$work/m/Items.idb"
ln "$work/m/Items.idb" "$work/m/out/Materials.txt"
for database in "$work/m/out/QuestItems.txt" "$work/m/Items.idb"; do
  status=0
  "$WINE" "$cli" "$(winpath "$database")" "$(winpath "$work/m/out")" >"$work/m.out" 2>"$work/m.err" || status=$?
  sed 's/^/    /' "$work/m.err"
  [[ $status -eq 2 ]] || fail "idb2txt.exe ended with $status, not 2"
  grep -q 'itself: nothing was written' "$work/m.err" || fail "no refusal message"
done
cmp -s "$sample" "$work/m/Items.idb" && cmp -s "$sample" "$work/m/out/QuestItems.txt" ||
  fail "a database was changed"
[[ $(ls "$work/m/out" | tr '\n' ' ') == "Materials.txt QuestItems.txt " ]] || fail "tables were written: $(ls "$work/m/out")"
"$WINE" "$cli" --quiet "$(winpath "$work/m/Items.idb")" "$(winpath "$work/m/elsewhere")" 2>"$work/m.err" ||
  fail "a plain conversion failed: $(cat "$work/m.err")"
same_tables "$work/m/elsewhere" "$work/reference-sample."
passed
fi

echo "--- all end-to-end scenarios passed in $(($(date +%s) - began)) s; screenshots in $shots"
