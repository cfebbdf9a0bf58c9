#!/usr/bin/env bash
# Builds everything and runs every test: unit tests, the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, a short fuzz run over the
# whole conversion, the Windows cross builds and the release package, whose
# programs are driven end to end under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s\n' "$*"; }

step "installing what the tests need"
tools/install-deps.sh

step "unit tests (g++)"
cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

step "tables through LibreOffice Calc: opened and saved as a modder does (English and Russian), through .xlsx, one cell edited"
tools/test-spreadsheet.sh build/default --change-report

step "unit tests under ASan + UBSan (clang)"
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset sanitize -j "$jobs"

# run_fuzzer NAME SECONDS FUZZER CORPUS...: a libFuzzer run in a throw-away
# folder (on tmpfs when there is one); a crash, leak, timeout or the memory
# limit fails the script and keeps the log and the input.
run_fuzzer() {
  local name=$1 seconds=$2 fuzzer=$3 dir=$4
  shift 4
  if ! (cd "$dir" && TMPDIR="$dir" "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
          -print_final_stats=1 -artifact_prefix="$dir/$name-" "$@" >"$name.log" 2>&1); then
    tail -n 60 "$dir/$name.log"
    echo "fuzzing $name found a failure; the log and the input are in $dir" >&2
    exit 1
  fi
  grep -E '^(Done|stat::peak_rss_mb)' "$dir/$name.log"
}

step "fuzzing (clang, libFuzzer + ASan + UBSan): conversion 60 s, gamedb unpack, pack and archive reader 30 s each, gamedb check and diff, animation databases, workbook reader and community workbooks 20 s each"
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
fuzzers=$PWD/build/fuzz/fuzz
fuzz_dir=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
"$fuzzers/make_seeds" "$fuzz_dir/convert"
cp samples/Items.idb "$fuzz_dir/convert/"
"$fuzzers/make_gamedb_seeds" "$fuzz_dir/unpack" "$fuzz_dir/pack" "$fuzz_dir/adb"
"$fuzzers/archive_seeds" "$fuzz_dir/archive"
# Every conversion run writes six tables into the current folder: the throw-away one.
run_fuzzer convert 60 "$fuzzers/convert_fuzzer" "$fuzz_dir" convert
run_fuzzer unpack 30 "$fuzzers/gamedb_unpack_fuzzer" "$fuzz_dir" unpack
run_fuzzer pack 30 "$fuzzers/gamedb_pack_fuzzer" "$fuzz_dir" pack
# check reads what unpack reads: it starts from a copy of the unpack seeds.
mkdir -p "$fuzz_dir/check" && cp "$fuzz_dir"/unpack/* "$fuzz_dir/check/"
run_fuzzer check 20 "$fuzzers/gamedb_check_fuzzer" "$fuzz_dir" check
# diff takes a database and one byte to change: the unpack seeds with the byte's place and value put in.
mkdir -p "$fuzz_dir/diff"
for seed in "$fuzz_dir"/unpack/*; do
  { head -c 1 "$seed"; printf '\000\000\000'; tail -c +2 "$seed"; } >"$fuzz_dir/diff/${seed##*/}"
done
run_fuzzer diff 20 "$fuzzers/gamedb_diff_fuzzer" "$fuzz_dir" diff
run_fuzzer archive 30 "$fuzzers/archive_fuzzer" "$fuzz_dir" archive
run_fuzzer adb 20 "$fuzzers/adb_fuzzer" "$fuzz_dir" adb
"$fuzzers/workbook_seeds" "$fuzz_dir/workbook"
run_fuzzer workbook 20 "$fuzzers/workbook_fuzzer" "$fuzz_dir" workbook
# The community workbook layout's round trip reads databases: it starts from the unpack seeds.
mkdir -p "$fuzz_dir/community" && cp "$fuzz_dir"/unpack/* "$fuzz_dir/community/"
run_fuzzer community 20 "$fuzzers/community_fuzzer" "$fuzz_dir" community
rm -rf "$fuzz_dir"

step "Windows builds (MinGW-w64, -Werror)"
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
done
tools/check-imports.sh build/mingw-i686/idb2txt.exe build/mingw-i686/VevAzoverud.exe build/mingw-i686/gamedb.exe

step "release package (ZIP of the i686 build) and its contents"
rm -f build/mingw-i686/VevAzoverud-*-win32.zip
cmake --build --preset mingw-i686 --target package
tools/check-package.sh build/mingw-i686/VevAzoverud-*-win32.zip

# The Wine suites drive what we ship: the i686 programs unzipped from the
# release package into a fresh folder, in a 32-bit prefix, with the test
# programs (UI driver, dialog host) from the i686 build folder. Where this
# machine cannot execute 32-bit code each suite says so in its line and the
# x86_64 twin takes its place, unzipped from its own package the same way;
# where it can, the twin is not run again (the same sources, not shipped,
# and twice the Wine time).
step "can this machine execute 32-bit programs?"
run32=
tools/probe-32bit.sh && run32=1

# unzipped PRESET: unzips the preset's package into a fresh build/wine-PRESET
# and prints the programs' folder.
unzipped() {
  local dir=$PWD/build/wine-$1
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && cmake -E tar xf "$OLDPWD"/build/"$1"/VevAzoverud-*.zip)
  echo "$dir"/VevAzoverud-*
}
i686=(--helpers build/mingw-i686 --work build/wine-mingw-i686 --label "i686 package" "$(unzipped mingw-i686)")
if [[ -z $run32 ]]; then
  rm -f build/mingw-x86_64/VevAzoverud-*.zip
  cmake --build --preset mingw-x86_64 --target package >/dev/null
  x86_64=(--helpers build/mingw-x86_64 --work build/wine-mingw-x86_64 --label "x86_64 twin" "$(unzipped mingw-x86_64)")
fi
wine_lines=()

# wine_suite LIMIT SCRIPT: the suite over the i686 package, or over the twin
# when the package cannot run here (status 3: the suite's line says why).
wine_suite() {
  local limit=$1 script=$2 status=0 log
  log=$(mktemp)
  timeout "$limit" "$script" "${i686[@]}" | tee "$log" || status=$?
  if [[ $status -eq 3 && -z $run32 ]]; then
    wine_line "$script" "$log" "$status"
    status=0
    timeout "$limit" "$script" "${x86_64[@]}" | tee "$log" || status=$?
  fi
  wine_line "$script" "$log" "$status"
  rm -f "$log"
  if [[ $status -ne 0 ]]; then
    step "Wine runs"
    printf '%s\n' "${wine_lines[@]}"
    exit "$status"
  fi
}

# The suite's own last line; a suite killed before it could write one gets
# a line that says so.
wine_line() {
  local line
  line=$(tail -n1 "$2")
  [[ $line == wine\ * ]] || line="$(basename "$1"): FAILED without a summary (exit status $3)"
  wine_lines+=("$line")
}

step "end-to-end tests of the window program under Wine"
wine_suite 600 tools/wine-e2e.sh

step "end-to-end tests of the dialog object's system dialogs under Wine"
wine_suite 300 tools/wine-e2e-dialogs.sh

step "gamedb.exe under Wine: unpack and pack of every kind"
wine_suite 300 tools/wine-gamedb.sh

step "gamedb.exe and idb2txt.exe on archives under Wine"
wine_suite 300 tools/wine-archive.sh

step "Wine runs"
printf '%s\n' "${wine_lines[@]}"

step "all tests passed"
