#!/usr/bin/env bash
# Installs Debian's 32-bit Wine (wine32:i386) when this machine executes
# 32-bit programs (tools/probe-32bit.sh), so that the shipped i686 programs
# can be tested; does nothing where it cannot. Run as root; safe to repeat.
# No binfmt handler is registered for i386: that makes wineboot hang.
set -euo pipefail
tools=$(dirname "$0")

if ! "$tools/probe-32bit.sh"; then
  echo "install-wine32: skipped: the i686 package will not be run here"
  exit 0
fi
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  echo "install-wine32: wine32:i386 is installed"
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "install-wine32: wine32:i386 is missing (run as root)" >&2
  exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine32:i386
# The 32-bit loader itself must start, or the suites would fail later and less plainly.
/usr/lib/wine/wine --version >/dev/null || { echo "install-wine32: the 32-bit Wine loader does not start" >&2; exit 1; }
echo "install-wine32: wine32:i386 installed"
