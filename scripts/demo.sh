#!/usr/bin/env bash
# Updates a simulated ZT-5100 with the real Monoflash programs under Wine: the sub processor with the
# stage 1 build, then the main processor with the stage 2 build, both run unattended ("-silent") as
# another program would run them. The progress dialog is drawn on a virtual display.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$here/build}
sim=$build/native/sim/recorder-sim
programs=$build/win/bin/sim
work=$build/demo
mkdir -p "$work"
recorder=$work/recorder.sim
rm -f "$recorder"

"$sim" create "$recorder" --main-version 1.00 --sub-version 1.00 >/dev/null
echo "== The recorder before the update =="
"$sim" show "$recorder"

# The simulated drive layer reads the recorder's state file by its Windows name.
export ZT_SIM_RECORDER="Z:${recorder//\//\\}"
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/win/wineprefix}

run() {
  local program=$1 what=$2 code=0
  echo
  echo "== $what: $program -silent =="
  xvfb-run -a -s "-screen 0 1024x768x24" "$here/scripts/wine-run.sh" "$programs/$program" -silent 2>/dev/null || code=$?
  echo "exit code $code ($( [ $code -eq 0 ] && echo updated || echo 'not updated' ))"
  return $code
}

status=0
run Monoflash.exe "Sub processor (stage 1)" || status=1
run Monoflash-stage2.exe "Main processor (stage 2)" || status=1

echo
echo "== The recorder after the update =="
"$sim" show "$recorder" | grep -v "recent commands"
exit $status
