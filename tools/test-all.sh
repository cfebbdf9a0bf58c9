#!/usr/bin/env bash
# Builds everything and runs every test: unit tests, the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, a short fuzz run over the
# whole conversion, the Windows cross builds and the window program driven
# end to end under Wine.
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

step "unit tests under ASan + UBSan (clang)"
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset sanitize -j "$jobs"

step "fuzzing the whole conversion for 60 s (clang, libFuzzer + ASan + UBSan)"
cmake --preset fuzz
cmake --build --preset fuzz -j "$jobs"
# Corpus, tables and crash files go to a throw-away folder, on tmpfs when
# there is one: every run writes six tables.
fuzz_dir=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
fuzzer=$PWD/build/fuzz/fuzz/convert_fuzzer
build/fuzz/fuzz/make_seeds "$fuzz_dir/corpus"
cp samples/Items.idb "$fuzz_dir/corpus/"
# A crash, leak, timeout or the memory limit ends the run with a non-zero status.
if ! (cd "$fuzz_dir" && TMPDIR="$fuzz_dir" "$fuzzer" -max_total_time=60 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$fuzz_dir/" corpus >fuzz.log 2>&1); then
  tail -n 60 "$fuzz_dir/fuzz.log"
  echo "fuzzing found a failure; the log and the input are in $fuzz_dir" >&2
  exit 1
fi
grep -E '^(Done|stat::peak_rss_mb)' "$fuzz_dir/fuzz.log"
rm -rf "$fuzz_dir"

step "fuzzing the game-database library for 2 x 30 s (unpack from bytes, pack from tables)"
gamedb_fuzz_dir=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
gamedb_fuzzers=$PWD/build/fuzz/fuzz
"$gamedb_fuzzers/make_gamedb_seeds" "$gamedb_fuzz_dir/unpack" "$gamedb_fuzz_dir/pack"
for target in unpack pack; do
  if ! (cd "$gamedb_fuzz_dir" && "$gamedb_fuzzers/gamedb_${target}_fuzzer" -max_total_time=30 -timeout=10 \
          -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$gamedb_fuzz_dir/$target-" "$target" \
          >"$target.log" 2>&1); then
    tail -n 60 "$gamedb_fuzz_dir/$target.log"
    echo "fuzzing gamedb $target found a failure; the log and the input are in $gamedb_fuzz_dir" >&2
    exit 1
  fi
  grep -E '^(Done|stat::peak_rss_mb)' "$gamedb_fuzz_dir/$target.log"
done
rm -rf "$gamedb_fuzz_dir"

step "fuzzing gamedb check and diff for 20 s"
check_fuzz_dir=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
check_fuzzer=$PWD/build/fuzz/fuzz/gamedb_check_fuzzer
build/fuzz/fuzz/make_gamedb_seeds "$check_fuzz_dir/corpus" "$check_fuzz_dir/unused"
if ! (cd "$check_fuzz_dir" && "$check_fuzzer" -max_total_time=20 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$check_fuzz_dir/" corpus >check.log 2>&1); then
  tail -n 60 "$check_fuzz_dir/check.log"
  echo "fuzzing gamedb check found a failure; the log and the input are in $check_fuzz_dir" >&2
  exit 1
fi
grep -E '^(Done|stat::peak_rss_mb)' "$check_fuzz_dir/check.log"
rm -rf "$check_fuzz_dir"

step "fuzzing the archive reader for 30 s (clang, libFuzzer + ASan + UBSan)"
archive_fuzz_dir=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
build/fuzz/fuzz/archive_seeds "$archive_fuzz_dir/corpus"
archive_fuzzer=$PWD/build/fuzz/fuzz/archive_fuzzer
if ! (cd "$archive_fuzz_dir" && "$archive_fuzzer" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$archive_fuzz_dir/" corpus >fuzz.log 2>&1); then
  tail -n 60 "$archive_fuzz_dir/fuzz.log"
  echo "fuzzing the archive reader found a failure; the log and the input are in $archive_fuzz_dir" >&2
  exit 1
fi
grep -E '^(Done|stat::peak_rss_mb)' "$archive_fuzz_dir/fuzz.log"
rm -rf "$archive_fuzz_dir"

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

step "end-to-end tests of the window program under Wine (x86_64 twin)"
timeout 600 tools/wine-e2e.sh build/mingw-x86_64

step "end-to-end tests of the dialog object's system dialogs under Wine (x86_64 twin)"
timeout 300 tools/wine-e2e-dialogs.sh build/mingw-x86_64

step "gamedb.exe under Wine: unpack and pack of every kind (x86_64 twin)"
timeout 300 tools/wine-gamedb.sh build/mingw-x86_64

step "gamedb.exe and idb2txt.exe on archives under Wine (x86_64 twin)"
timeout 300 tools/wine-archive.sh build/mingw-x86_64

step "all tests passed"
