#!/usr/bin/env bash
# Updates a simulated ZT-5100 the way a user does: the simulation build of Duoflash runs under Wine on
# a virtual display, and duoflash-drive goes through it as a user would (Next on page 1, Start in
# stage 1, Next on page 2, Start and Finish in stage 2), saying what each window shows. Stage 1
# brings the sub processor to 1.01, stage 2 the main processor.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$here/build}
sim=$build/native/sim/recorder-sim
wrapper=$build/win/bin/sim/Duoflash.exe
driver=$build/win/bin/tools/duoflash-drive.exe
for file in "$sim" "$wrapper" "$driver"; do
  [ -e "$file" ] || { echo "demo: $file is missing (make all builds it)" >&2; exit 1; }
done
work=$build/demo
mkdir -p "$work"
recorder=$work/recorder.sim
rm -f "$recorder"

"$sim" create "$recorder" --main-version 1.00 --sub-version 1.00 >/dev/null
echo "== The recorder before the update =="
"$sim" show "$recorder"

# The simulated drive layer reads the recorder's state file by its Windows name; the wrapper's
# stages inherit it from the wrapper, which inherits it from the driver.
export ZT_SIM_RECORDER="Z:${recorder//\//\\}"
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/win/wineprefix}

echo
echo "== Duoflash.exe, its pages driven as a user would =="
start=$SECONDS
code=0
# Wine's own complaints go to a log: the driver's lines are what the user would have seen.
xvfb-run -a -s "-screen 0 1024x768x24" "$here/scripts/wine-run.sh" "$driver" "$wrapper" 2>"$work/wine.log" ||
  code=$?
echo "(the run took $((SECONDS - start)) s)"

echo
echo "== The recorder after the update =="
"$sim" show "$recorder" | grep -v "recent commands"
versions=$("$sim" show "$recorder" | sed -n 's/^ *\(main\|sub\) processor firmware: *//p' | tr '\n' ' ')
echo
if [ "$code" -eq 0 ] && [ "$versions" = "1.01 1.01 " ]; then
  echo "Duoflash brought both processors from 1.00 to 1.01."
  exit 0
fi
echo "Duoflash did not bring both processors to 1.01 (the driver ended with $code; Wine's own messages"
echo "are in $work/wine.log)."
exit 1
