#!/usr/bin/env bash
# Fails when a Windows executable imports anything but system DLLs (a MinGW
# runtime DLL would have to ship beside it).
set -euo pipefail
status=0
for exe in "$@"; do
  dlls=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}')
  for dll in $dlls; do
    case "${dll,,}" in
      kernel32.dll|user32.dll|gdi32.dll|comdlg32.dll|shell32.dll|ole32.dll|comctl32.dll|msvcrt.dll|winspool.drv|advapi32.dll|shlwapi.dll|uxtheme.dll) ;;
      *) echo "check-imports: $exe imports $dll" >&2; status=1 ;;
    esac
  done
  echo "check-imports: $exe imports only system DLLs: $(echo $dlls | tr '\n' ' ')"
done
exit $status
