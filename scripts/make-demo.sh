#!/usr/bin/env bash
# `make demo` for someone who has just cloned the repository: the packages, both builds and the Wine
# prefix are made quietly, one line per step, with their output in a log; only the demo itself speaks.
# A failing step shows the end of the log, which is where the compiler or apt says what went wrong.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$here/build}
make=${MAKE:-make}
mkdir -p "$build"
log=$build/demo-build.log
: >"$log"
echo "The build's output goes to $log"

step() {
  local what=$1 start=$SECONDS
  shift
  printf '%s... ' "$what"
  echo "== $what: $*" >>"$log"
  if "$@" </dev/null >>"$log" 2>&1; then
    echo "done ($((SECONDS - start)) s)"
    return 0
  fi
  echo "failed"
  echo
  echo "---- the last 40 lines of $log ----"
  tail -n 40 "$log"
  echo "----"
  echo "make demo stopped: $what failed (the whole output is in $log)"
  exit 1
}

in_repo_make() { "$make" --no-print-directory -C "$here" "$@" BUILD="$build" ${JOBS:+JOBS=$JOBS}; }

# bootstrap.sh may ask for a sudo password; sudo asks on the terminal, not on the redirected output.
step "checking the Debian packages" "$here/scripts/bootstrap.sh"
step "building the native tree" in_repo_make native
step "building the Windows tree" in_repo_make win
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/win/wineprefix}
# The prefix's desktop lives on the display that started it, so its server is let go before this
# display is, and the demo starts Wine afresh on its own.
prepare_wine() {
  xvfb-run -a -s "-screen 0 1024x768x24" \
    bash -c '"$1" cmd /c exit; WINEPREFIX=$ZT_WINEPREFIX wineserver -w' _ "$here/scripts/wine-run.sh"
}
if [ ! -f "$ZT_WINEPREFIX/system.reg" ]; then
  step "preparing Wine (only the first time)" prepare_wine
fi
echo
status=0
BUILD=$build "$here/scripts/demo.sh" || status=1
echo
echo "######## The same job on the Mac: Reflash in a simulated Mac ########"
echo
"$here/scripts/demo-mac.sh" "$build/native" || status=1
exit $status
