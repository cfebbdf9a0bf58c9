# Sourced first by the scripts that run the Windows programs under Wine
# (tools/wine-e2e.sh, tools/wine-e2e-dialogs.sh, tools/wine-gamedb.sh,
# tools/wine-archive.sh): the arguments, the Wine of the programs' bitness,
# a fresh prefix and (for the windows) a private Xvfb, torn down on exit, the
# helpers every scenario uses, and the suite's one summary line.
#
#   SCRIPT [--helpers DIR] [--work DIR] [--label TEXT] PROGRAMS_DIR
#
# PROGRAMS_DIR holds the programs under test (a build folder, or the release
# package unzipped); --helpers the build folder of the test programs
# (tests/e2e/ui_driver.exe, dialog_host.exe; default PROGRAMS_DIR), built
# for the same bitness; --work where the suite's work folder goes (default
# PROGRAMS_DIR); --label names the build in the summary line.
#
# Sets root (the source tree), build (PROGRAMS_DIR), helpers and work_root.
# The script sets suite (the summary's name) before sourcing; afterwards
# work (a folder of its own under work_root: prefix, home, logs) and defines
# fail MESSAGE; the end-to-end scripts also set shots (screenshots), driver
# (ui_driver.exe) and driver_limit (seconds for one driver run). Then, once
# its folders exist, it calls wine_env_up (display and prefix) or
# wine_prefix_up (prefix only). Scenarios marked with begin/passed are
# counted in the summary.

wine_env_usage() {
  echo "usage: $0 [--helpers DIR] [--work DIR] [--label TEXT] PROGRAMS_DIR" >&2
  exit 2
}
helpers= work_root= label=
while (($#)); do
  case $1 in
    --helpers | --work | --label)
      (($# >= 2)) || wine_env_usage
      case $1 in --helpers) helpers=$2 ;; --work) work_root=$2 ;; --label) label=$2 ;; esac
      shift 2 ;;
    -*) wine_env_usage ;;
    *) break ;;
  esac
done
[[ $# -eq 1 ]] || wine_env_usage
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
helpers=$(cd "${helpers:-$build}" && pwd)
mkdir -p "${work_root:-$build}"
work_root=$(cd "${work_root:-$build}" && pwd)

# pe_machine EXE: i686 for a PE32 program, x86_64 for PE32+, "" otherwise
# (read from the optional header's magic, behind the offset at 0x3c).
pe_machine() {
  local at magic
  at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [[ -n $at ]] || return 0
  magic=$(od -An -tx2 -j$((at + 24)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $magic in 010b) echo i686 ;; 020b) echo x86_64 ;; esac
}
machine=
for exe in "$build"/*.exe; do
  if [[ -f $exe ]]; then machine=$(pe_machine "$exe"); break; fi
done
label=${label:-${machine:-unknown} build}

began_suite=$(date +%s)
scenarios_passed=0
not_run=
if [[ $machine == i686 ]]; then
  # The 32-bit loader, in a 32-bit prefix; only where the machine executes 32-bit code.
  if ! "$root/tools/probe-32bit.sh" -q; then
    not_run="this machine cannot execute 32-bit programs"
  elif [[ ! -x /usr/lib/wine/wine ]]; then
    not_run="the 32-bit Wine (wine32:i386) is not installed: run tools/install-deps.sh"
  fi
  export WINE=/usr/lib/wine/wine WINELOADER=/usr/lib/wine/wine WINEARCH=win32
else
  # /usr/bin/wine would pick the 32-bit loader, which not every machine can run.
  export WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
fi
export WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko install prompts
export LC_ALL=C.UTF-8                       # plain C mangles Cyrillic arguments

# The prefix links its Desktop and Documents to $HOME: keep them inside the
# work folder, so that a stray write shows up there instead of in a home.
wine_env_folders() {
  export WINEPREFIX=$work/prefix HOME=$work/home
  mkdir -p "$HOME"
}

xvfb_pid=
server_up=
wine_env_cleanup() {
  local status=$? took
  took=$(($(date +%s) - began_suite))
  if [[ -n $not_run ]]; then
    echo "${suite:-wine} ($label) not run: $not_run"
  elif ((status == 0 && scenarios_passed > 0)); then
    echo "${suite:-wine} ($label): $scenarios_passed scenarios passed in $took s"
  elif ((status == 0)); then
    echo "${suite:-wine} ($label): all checks passed in $took s"
  else
    echo "${suite:-wine} ($label): FAILED (exit status $status) after $took s"
  fi
  if [[ -n $server_up ]]; then timeout 30 "$WINESERVER" -k 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  exit "$status"
}
trap wine_env_cleanup EXIT
trap 'exit 130' INT TERM

# A build that cannot run here ends the suite with status 3, said plainly in
# the summary line, so that a skipped run is never taken for a passed one.
[[ -z $not_run ]] || exit 3

# The test programs drive the programs under test through window messages
# and process handles: they must be of the same bitness.
for exe in "$helpers"/tests/e2e/*.exe; do
  [[ -f $exe && -n $machine ]] || continue
  [[ $(pe_machine "$exe") == "$machine" ]] ||
    { echo "$0: $exe is not built for $machine like the programs in $build" >&2; exit 2; }
done

wine_env_up() {
  local began_up
  began_up=$(date +%s)
  wine_env_folders
  echo "--- setting up Xvfb and a fresh $machine Wine prefix for the programs in $build"
  [[ $helpers == "$build" ]] || echo "    the test programs (UI driver, dialog host) are not shipped: they come from $helpers"
  # -displayfd: Xvfb picks a free display itself, so parallel runs cannot collide.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    sleep 0.1
  done
  [[ -s $work/display ]] || fail "Xvfb gave no display number"
  export DISPLAY=:$(head -n1 "$work/display")

  server_up=1
  timeout 180 "$WINE" wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed: $(tail -5 "$work/wineboot.log")"
  timeout 60 "$WINESERVER" -w || fail "the prefix's first wineserver did not end"
  # One persistent server, warmed before the first test: the first process
  # otherwise leaves services behind that hold our pipes open.
  "$WINESERVER" -p || fail "cannot start a persistent wineserver"
  timeout 60 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Without a window manager Wine waits 2 s for every window it hides.
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
    fail "cannot switch off managed windows"
  # Debian's Wine does not find its own fonts.
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  echo "    display $DISPLAY, prefix ready in $(($(date +%s) - began_up)) s"
}

# Without a display: the prefix, made by a first process that does nothing.
wine_prefix_up() {
  wine_env_folders
  server_up=1
  timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# ---- Helpers ---------------------------------------------------------------------
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

scenario=
scenario_began=0

begin() {
  scenario=$1
  scenario_began=$(date +%s%N)
  echo "--- $1: $2"
  touch "$work/since-$1"
}

passed() {
  local ms=$((($(date +%s%N) - scenario_began) / 1000000))
  printf '    ok %s (%d.%d s)\n' "$scenario" $((ms / 1000)) $((ms % 1000 / 100))
  scenario=
  scenarios_passed=$((scenarios_passed + 1))
}

# drive PART: runs the driver steps read from stdin; the log lands in
# WORK/PART.log and is shown indented. Any driver failure ends the run.
drive() {
  local part=$1 steps=$work/$1.steps log=$work/$1.log status=0
  { echo "timeout 20000"; cat; } >"$steps"
  timeout -k 5 "$driver_limit" "$WINE" "$driver" "$(winpath "$steps")" >"$log" 2>&1 || status=$?
  # A program Wine refused to start did nothing yet: one more go is safe.
  if [[ $status -eq 1 ]] && grep -q 'FAILED: cannot start' "$log"; then
    echo "    (Wine refused to start the program; trying the scenario once more)"
    status=0
    timeout -k 5 "$driver_limit" "$WINE" "$driver" "$(winpath "$steps")" >"$log" 2>&1 || status=$?
  fi
  grep -v 'FS volume label and serial are not available' "$log" | sed 's/^/    /'
  case $status in
    0) ;;
    1) fail "an expectation failed (see $log)" ;;
    2) fail "a step timed out (see $log)" ;;
    124 | 137) fail "the driver hung for $driver_limit s (see $log)" ;;
    *) fail "the driver ended with status $status (see $log)" ;;
  esac
}

screenshot() {
  import -display "$DISPLAY" -window root "$shots/$1.png" || fail "no screenshot $1"
  echo "    screenshot $shots/$1.png"
}
