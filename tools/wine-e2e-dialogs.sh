#!/usr/bin/env bash
# End-to-end tests of the dialog object's other system dialogs under Wine:
# tests/e2e/dialog_host runs one operation over the real dialogs, the UI
# driver answers them, and the properties the host prints are checked.
#
#   tools/wine-e2e-dialogs.sh [OPTIONS] BUILD_DIR   (a MinGW build; options: tools/wine-env.sh)
#
# The host is a test program: it comes from the helpers' build folder. The
# shut-down and restart dialogs are never shown here: confirming one would
# act on the machine. Leaves WORK/e2e-dialogs (prefix, driver scripts, logs,
# the host's reports). Stops at the first failure.
set -euo pipefail

suite="wine dialogs"
source "$(dirname "$0")/wine-env.sh"
host=$helpers/tests/e2e/dialog_host.exe
driver=$helpers/tests/e2e/ui_driver.exe
work=$work_root/e2e-dialogs
shots=$work/screenshots
driver_limit=120

fail() {
  echo "wine-e2e-dialogs: FAILED${scenario:+ in scenario $scenario}: $*" >&2
  exit 1
}

for needed in "$host" "$driver"; do
  [[ -x $needed ]] || fail "missing $needed (build the preset)"
done
for tool in Xvfb timeout; do
  command -v "$tool" >/dev/null || fail "missing $tool: run tools/install-deps.sh"
done

began=$(date +%s)
rm -rf "$work"
mkdir -p "$work/reports" "$shots"
cd "$work"
wine_env_up

H=$(winpath "$host")
report() { winpath "$work/reports/$1.txt"; }

# expect REPORT CALL NAME VALUE: the line NAME=VALUE in the report of call CALL.
expect() {
  local file=$work/reports/$1.txt call=$2 name=$3 want=$4 got
  [[ -f $file ]] || fail "the host wrote no report $file"
  got=$(awk -v call="$call" -v name="$name" -F= '
    $1 == "call" { current = $2; next }
    current == call && $1 == name { sub(/^[^=]*=/, ""); print; exit }' "$file")
  [[ $got == "$want" ]] || fail "call $call: $name is \"$got\", expected \"$want\" (report $file)"
  echo "    call $call: $name=$got"
}

# The colour dialog's red, green and blue boxes, and its OK and Cancel.
colour_dialog=control=0x2C2
set_rgb() { printf 'settext-in %s 0x2C2 %s\nsettext-in %s 0x2C3 %s\nsettext-in %s 0x2C4 %s\n' \
  "$colour_dialog" "$1" "$colour_dialog" "$2" "$colour_dialog" "$3"; }

begin colour "colour dialog confirmed twice; the second starts from the first result"
drive colour <<EOF
start $H colortwice --rgb 0x123456 --flags 3 --out $(report colour)
$(set_rgb 255 128 1)
press $colour_dialog 1
settext-in $colour_dialog 0x2C2 0
press $colour_dialog 1
wait-exit 0
EOF
expect colour 1 RGBResult 0x000180FF
expect colour 1 LastResult 1
expect colour 2 RGBResult 0x00018000
expect colour 2 Cancelled none
passed

begin colour-cancel "colour dialog cancelled: the cancel error with CancelError, a quiet return without"
drive colour-cancel <<EOF
start $H colortwice --rgb 0xABCDEF --flags 1 --cancel-error --out $(report colour-cancel-error)
$(set_rgb 1 2 3)
press $colour_dialog 2
press $colour_dialog 1
wait-exit 0
start $H color --rgb 0xABCDEF --flags 1 --out $(report colour-cancel-quiet)
press $colour_dialog 2
wait-exit 0
EOF
expect colour-cancel-error 1 Cancelled 0
expect colour-cancel-error 1 RGBResult 0x00ABCDEF
expect colour-cancel-error 1 LastResult 0
expect colour-cancel-error 2 RGBResult 0x00ABCDEF
expect colour-cancel-error 2 Cancelled none
expect colour-cancel-quiet 1 Cancelled none
expect colour-cancel-quiet 1 RGBResult 0x00ABCDEF
passed

# The font dialog's size box.
font_dialog=control=0x472
begin font "font dialog confirmed: size, bold, italic and the face read back; cancelled with CancelError"
drive font <<EOF
start $H font --size 12 --bold --italic --name Tahoma --out $(report font)
press $font_dialog 1
wait-exit 0
start $H font --size 10 --name Tahoma --out $(report font-plain)
press $font_dialog 1
wait-exit 0
start $H font --size 12 --bold --name Tahoma --cancel-error --out $(report font-cancel)
press $font_dialog 2
wait-exit 0
EOF
expect font 1 FontSize 12
expect font 1 Bold 1
expect font 1 Italic 1
expect font 1 FontName Tahoma
expect font-plain 1 FontSize 10
expect font-plain 1 Bold 0
expect font-plain 1 Italic 0
expect font-cancel 1 Cancelled 0
expect font-cancel 1 FontSize 12
passed

begin about "the system About box with a Russian name, and with none"
drive about <<EOF
start $H about --app "Проверка диалогов" --prompt "Вторая строка" --out $(report about)
wait "title=Проверка диалогов"
press "title=Проверка диалогов" 1
wait-exit 0
start $H about --out $(report about-empty)
press class=#32770 1
wait-exit 0
EOF
expect about 1 AppNameLength 17   # left as it was
expect about-empty 1 AppNameLength 1
passed

begin run "the Run dialog opens with our title and is closed"
drive run <<EOF
start $H run --title "Выполнить программу" --prompt "Введите команду" --out $(report run)
wait "title=^Выполнить программу$"
press "title=^Выполнить программу$" 2
wait-exit 0
EOF
expect run 1 Cancelled none
passed

begin icon "the change-icon dialog (a stub in Wine: no icon is chosen) and a folder name"
drive icon <<EOF
start $H icon "C:\\windows\\system32\\shell32.dll" --out $(report icon)
wait-exit 0
start $H icon C:\\windows\\ --out $(report icon-folder)
wait-exit 0
EOF
expect icon 1 hIcon 0
expect icon 1 FileName 'C:\windows\system32\shell32.dll'
expect icon-folder 1 FileName 'C:\windows\'
passed

begin printer "the printer dialog with no printer installed: our message, then the system's"
drive printer <<EOF
start $H printer --cancel-error --out $(report printer)
msgbox "^Printer Error$" "^No default printer is installed\\.$"
press-msgbox-ok
msgbox "" "install a printer"
press-msgbox-ok
wait-exit 0
EOF
expect printer 1 Cancelled 0
expect printer 1 LastResult 0
expect printer 1 CurrentPrinter none
passed

echo "--- all dialog scenarios passed in $(($(date +%s) - began)) s"
