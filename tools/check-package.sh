#!/usr/bin/env bash
# Checks a release package before it is handed out:
#
#   tools/check-package.sh build/mingw-i686/VevAzoverud-1.1.0-win32.zip
#
# - the version in the name is the project's, and the archive holds one folder
#   of that name with exactly the programs and the read-me (gamedb.exe may be
#   there too);
# - every program is a 32-bit PE (PE32), VevAzoverud.exe for the GUI
#   subsystem, the others for the console;
# - no program imports anything but system DLLs (tools/check-imports.sh);
# - the read-me is UTF-8 with a byte order mark, CR LF line ends, Russian and
#   English, and names the version.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 PACKAGE.zip" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
package=$(realpath "$1" 2>/dev/null || echo "$1")
fail() {
  echo "check-package: $package: $*" >&2
  exit 1
}
[[ -f $package ]] || fail "no such file"

name=$(basename "$package" .zip)
version=$(sed -n 's/^project(idb2txt VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ $name == "VevAzoverud-$version-win32" ]] || fail "the name should be VevAzoverud-$version-win32.zip"

# Folder entries are optional in a ZIP: only files are compared.
listing=$(cmake -E tar tf "$package" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$name/README.txt" "$name/VevAzoverud.exe" "$name/idb2txt.exe" | sort)
with_gamedb=$(printf '%s\n' "$expected" "$name/gamedb.exe" | sort)
[[ $listing == "$expected" || $listing == "$with_gamedb" ]] ||
  fail "unexpected contents:"$'\n'"$listing"$'\n'"expected:"$'\n'"$expected"
echo "check-package: contents: $(echo $listing | tr '\n' ' ')"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$package")
folder=$unpacked/$name

# The 32-bit objdump does not read a 64-bit program at all: that too is "not PE32".
header() { i686-w64-mingw32-objdump -p "$1" 2>/dev/null | awk -v key="$2" '$1 == key {print $2}' || true; }
for exe in "$folder"/*.exe; do
  file=$(basename "$exe")
  magic=$(header "$exe" Magic)
  [[ $magic == 010b ]] || fail "$file is not PE32 (optional header magic '$magic')"
  want=00000003  # console
  [[ $file == VevAzoverud.exe ]] && want=00000002  # GUI
  got=$(header "$exe" Subsystem)
  [[ $got == "$want" ]] || fail "$file has subsystem $got, expected $want"
  echo "check-package: $file: PE32, subsystem $got ($([[ $want == 00000002 ]] && echo GUI || echo console))"
done
"$root/tools/check-imports.sh" "$folder"/*.exe

readme=$folder/README.txt
[[ $(head -c 3 "$readme" | od -An -tx1 | tr -d ' ') == efbbbf ]] || fail "README.txt has no UTF-8 byte order mark"
lines=$(wc -l <"$readme")
crlf=$(grep -c $'\r$' "$readme" || true)
[[ $lines -gt 0 && $crlf -eq $lines ]] || fail "README.txt: $crlf of $lines lines end with CR LF"
grep -q "Vev Azoverud $version" "$readme" || fail "README.txt does not name version $version"
grep -q 'Установка не нужна' "$readme" && grep -q 'Nothing to install' "$readme" ||
  fail "README.txt lacks its Russian or English part"
echo "check-package: README.txt: UTF-8 with BOM, CR LF, Russian and English, version $version"
echo "check-package: $package is fine"
