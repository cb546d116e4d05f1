#!/bin/sh
# Runs Twinflash inside a simulated Mac against a simulated recorder with a script of a user's clicks:
# its two stages are the real Reflash programs of its resources, so the transcript shows both
# programs' pages in turn, and both processors go from 1.00 to 1.01. Then, on a Mac without the
# recorder's driver, the driver installation with its restart: the copy registered as a login item
# starts by itself after the simulated restart, updates both processors and deletes itself. Needs a
# built native tree (default build/native); everything it makes is removed at the end.
#
#   scripts/demo-twinflash.sh [NATIVE_BUILD_DIR]
set -eu

NATIVE=${1:-build/native}
MAC_SIM=$NATIVE/mac/sim/mac-sim
RECORDER_SIM=$NATIVE/sim/recorder-sim
APP=$NATIVE/mac/wrapper/Twinflash.app
for f in "$MAC_SIM" "$RECORDER_SIM" "$APP/Contents/MacOS/Twinflash"; do
  [ -e "$f" ] || { echo "demo-twinflash: $f is missing; build the native tree first" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zt-demo-twinflash.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

# The recorder's state file keeps this machine's time while the simulated Mac keeps its own: the
# recorder restarts at once after the sub processor's update, so stage 2 finds it there.
recorder() {
  "$RECORDER_SIM" create "$WORK/zt.sim" --main-version 1.00 --sub-version 1.00 --delay-ms 1 >/dev/null
}

# What the user sees; the progress lines of each phase are shortened to every quarter.
pages() {
  awk '/progress [0-9]+%$/ { p = $NF; sub("%", "", p); if (p % 25 != 0) next }
       /text$/ { held = $0; next }
       held != "" && /\| [0-9]+%$/ { held = ""; next }
       held != "" { print held; held = "" }
       { print }'
}

cat >"$WORK/clicks.txt" <<'MOVES'
# Twinflash: Next on page 1 starts stage 1; Next on page 2 (after stage 1) starts stage 2.
click "Next"
click "Next"
# Stage 1, the sub processor's Reflash: the update starts at once.
for "-nc1"
click "Start"
# Stage 2, the main processor's Reflash: start, then Finish on its last page.
for "-nc2"
click "Start"
expect-text "The firmware has been successfully updated"
click "Finish"
MOVES

recorder
"$MAC_SIM" create "$WORK/mac" --languages en --recorder "$WORK/zt.sim" >/dev/null
"$MAC_SIM" install "$WORK/mac" "$APP" "/Applications/ZT-5100 Update" >/dev/null

echo "== The recorder before the update =="
"$RECORDER_SIM" show "$WORK/zt.sim"
echo
echo "== Twinflash in a simulated Mac, with the user's clicks =="
sed -n 's/^\([^#].*\)/  \1/p' "$WORK/clicks.txt"
echo
"$MAC_SIM" run "$WORK/mac" "/Applications/ZT-5100 Update/Twinflash.app" --script "$WORK/clicks.txt" | pages
echo
echo "== The recorder after the update =="
"$RECORDER_SIM" show "$WORK/zt.sim"

echo
echo "== A Mac without the driver: installation, restart, and the copy that updates by itself =="
rm -rf "$WORK/mac" "$WORK/zt.sim"
recorder
"$MAC_SIM" create "$WORK/mac" --languages en --no-kext --password grant --recorder "$WORK/zt.sim" >/dev/null
"$MAC_SIM" install "$WORK/mac" "$APP" "/Applications/ZT-5100 Update" >/dev/null
printf 'click "Yes"\nclick "Yes"\n' >"$WORK/install.txt"
"$MAC_SIM" run "$WORK/mac" "/Applications/ZT-5100 Update/Twinflash.app" --script "$WORK/install.txt" | pages
"$MAC_SIM" show "$WORK/mac"
echo
"$MAC_SIM" restart "$WORK/mac" --script "$WORK/clicks.txt" | pages
echo
"$MAC_SIM" show "$WORK/mac"
echo
echo "== The recorder after the update =="
"$RECORDER_SIM" show "$WORK/zt.sim"
