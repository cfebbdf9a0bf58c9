#!/usr/bin/env bash
# Exits 0 when this machine executes 32-bit x86 programs, 1 when it does not.
# It runs one: a static 32-bit ELF of 93 bytes that only calls exit(42). Any
# other outcome (Exec format error, a crash, another status) means no, so a
# kernel without IA32 emulation cannot be mistaken for one with it.
#
#   tools/probe-32bit.sh [-q]      (-q: no line on stdout)
set -uo pipefail
quiet=
[[ ${1:-} == -q ]] && quiet=1
say() { [[ -n $quiet ]] || echo "probe-32bit: $*"; }

dir=$(mktemp -d) || { say "cannot make a temporary folder"; exit 1; }
trap 'rm -rf "$dir"' EXIT
probe=$dir/exit42
# ELF header (52 bytes), one loadable segment (32 bytes) mapping the file at
# 0x08048000, then the code at 0x08048054: xor ebx,ebx; mov bl,42;
# xor eax,eax; inc eax (exit); int 0x80.
printf '%b' \
  '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
  '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
  '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
  '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' >"$probe"
chmod +x "$probe"
status=0
"$probe" 2>"$dir/err" || status=$?
if [[ $status -eq 42 ]]; then
  say "this machine executes 32-bit programs"
  exit 0
fi
# The shell's message ends with the system's reason, e.g. "Exec format error"
# from a kernel without IA32 emulation.
reason=$(tail -n1 "$dir/err" | sed 's/.*: //' | head -c 200)
say "this machine cannot execute 32-bit programs (a 32-bit test program ended with status $status${reason:+: $reason})"
exit 1
