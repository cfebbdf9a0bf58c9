#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (run as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev   # native build, sanitizers, libFuzzer
  libgtest-dev libgmock-dev libbenchmark-dev        # tests and benchmarks
  mingw-w64                                         # Windows builds
  zlib1g-dev libz-mingw-w64-dev libdeflate-dev      # CRC-32 of the tables and their source (gamedb)
  wine64 fonts-wine xvfb x11-utils imagemagick      # the Windows program's end-to-end tests
  locales                                           # ... in a Russian locale too
  libreoffice-calc-nogui python3-uno                # tables opened and saved by a real spreadsheet
  pkg-config libxlsxwriter-dev libminizip-dev libexpat1-dev   # workbooks (.xlsx)
  dpkg-dev                                          # ... and their Windows builds, from Debian's sources
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root)" >&2
    exit 1
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The end-to-end tests run the program once with Russian number formats.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf-\?8'; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: the locale ru_RU.UTF-8 is missing (run as root)" >&2
    exit 1
  fi
  sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen
fi

# The shipped programs are 32-bit: their Wine runs need wine32, where the
# machine can execute it.
"$(dirname "$0")/install-wine32.sh"
