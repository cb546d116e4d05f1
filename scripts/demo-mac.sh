#!/bin/sh
# Runs Reflash for the main processor inside a simulated Mac against a simulated recorder, with a
# script of a user's clicks, and prints what the user sees page by page and the recorder before and
# after. Needs a built native tree (default build/native); everything it makes is removed at the end.
#
#   scripts/demo-mac.sh [NATIVE_BUILD_DIR]
set -eu

NATIVE=${1:-build/native}
MAC_SIM=$NATIVE/mac/sim/mac-sim
RECORDER_SIM=$NATIVE/sim/recorder-sim
APP=$NATIVE/mac/updater/main/Reflash.app
for f in "$MAC_SIM" "$RECORDER_SIM" "$APP/Contents/MacOS/Reflash"; do
  [ -e "$f" ] || { echo "demo-mac: $f is missing; build the native tree first" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zt-demo-mac.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

"$RECORDER_SIM" create "$WORK/zt.sim" --main-version 1.00 --sub-version 1.00 >/dev/null
"$MAC_SIM" create "$WORK/mac" --system-version 10.9.5 --languages en --recorder "$WORK/zt.sim" >/dev/null
"$MAC_SIM" install "$WORK/mac" "$APP" "/Applications/ZT-5100 Update" >/dev/null

cat >"$WORK/clicks.txt" <<'MOVES'
# The user reads the offer, starts the update, and closes the program on the last page.
wait 2s
click "Start"
expect-text "The firmware has been successfully updated"
wait 2s
click "Finish"
MOVES

echo "== The recorder before the update =="
"$RECORDER_SIM" show "$WORK/zt.sim"
echo
echo "== Reflash (main processor) in a simulated Mac, with the user's clicks =="
sed -n 's/^\([^#].*\)/  \1/p' "$WORK/clicks.txt"
echo
# What the user sees: windows, pages, sheets and clicks; the progress lines of each phase are
# shortened to every quarter.
"$MAC_SIM" run "$WORK/mac" "/Applications/ZT-5100 Update/Reflash.app" --script "$WORK/clicks.txt" |
  awk '/progress [0-9]+%$/ { p = $NF; sub("%", "", p); if (p % 25 != 0) next }
       /text$/ { held = $0; next }
       held != "" && /\| [0-9]+%$/ { held = ""; next }
       held != "" { print held; held = "" }
       { print }'
echo
echo "== The recorder after the update =="
"$RECORDER_SIM" show "$WORK/zt.sim"
