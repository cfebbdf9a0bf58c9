#!/usr/bin/env bash
# Tables through LibreOffice Calc: generated databases of every kind, a sample
# of their tables opened with the text import's defaults (English and Russian,
# special numbers off and on), saved in place and through .xlsx, packed and
# compared byte for byte; one cell edited through Calc must change exactly
# that field. Needs libreoffice-calc-nogui and python3-uno (install-deps.sh).
#
#   tools/test-spreadsheet.sh [--report-only] BUILD_DIR [more calc_roundtrip.py options]
#
# --report-only prints the differences but exits 0.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
args=()
if [[ ${1:-} == --report-only ]]; then
  args+=(--report-only)
  shift
fi
if (($# < 1)); then
  echo "usage: $0 [--report-only] BUILD_DIR [options]" >&2
  exit 2
fi
build=$1
shift
# python3-uno is built for the system python, whatever python3 is first on PATH.
python=/usr/bin/python3
if ! "$python" -c 'import uno' 2>/dev/null || ! command -v soffice >/dev/null; then
  echo "test-spreadsheet: LibreOffice Calc or python3-uno is missing (tools/install-deps.sh installs them)" >&2
  exit 2
fi
# The harness's own reading of tables first: a fault there would blame Calc.
if ! out=$("$python" "$here/calc_roundtrip_test.py" 2>&1); then
  printf '%s\n' "$out" >&2
  echo "test-spreadsheet: the harness's own tests failed" >&2
  exit 1
fi
# A hung office must not hang CI: every Calc step has its own bound, this is the whole run's.
exec timeout --kill-after=30 900 "$python" "$here/calc_roundtrip.py" --build "$build" "${args[@]}" "$@"
