#!/usr/bin/env bash
# recorder-sim from the command line: create, show, break, unplug, and refuse what it cannot do.
set -u
tool="$1"
state="$(mktemp -d)/recorder.sim"
fail() { echo "FAIL: $*"; exit 1; }
expect_in() { grep -qF -- "$1" <<<"$2" || fail "expected \"$1\" in: $2"; }

"$tool" create "$state" --main-version 1.00 --sub-version 0.99 --device-id 41 --serial 1234 || fail "create"
out=$("$tool" show "$state") || fail "show"
expect_in "main processor firmware: 1.00" "$out"
expect_in "sub processor firmware:  0.99" "$out"
expect_in "device id 41, serial 1234" "$out"
expect_in "attached:                yes, volume mounted" "$out"

"$tool" fault "$state" fail E4-02 3 || fail "fault"
"$tool" fault "$state" corrupt-readback 100 || fail "fault"
out=$("$tool" show "$state")
expect_in "fault armed:             fail E4 02 3" "$out"
expect_in "fault armed:             corrupt-readback 100" "$out"

"$tool" fault "$state" explode >/dev/null 2>&1; [ $? -eq 2 ] || fail "an unknown fault must be refused with 2"
"$tool" create "$state.x" --main-version 123456789 >/dev/null 2>&1; [ $? -eq 2 ] || fail "a version of 9 characters must be refused"
"$tool" show "$state.none" >/dev/null 2>&1; [ $? -eq 1 ] || fail "a missing state file must fail with 1"

"$tool" clear-faults "$state" || fail "clear-faults"
out=$("$tool" show "$state")
grep -q "fault armed" <<<"$out" && fail "faults not cleared"

"$tool" unplug "$state" || fail "unplug"
expect_in "no, unplugged" "$("$tool" show "$state")"
"$tool" plug "$state" || fail "plug"
expect_in "yes, volume mounted" "$("$tool" show "$state")"

"$tool" create "$state" --needs-mode-switch || fail "create again"
expect_in "waiting for the switch to storage mode" "$("$tool" show "$state")"
expect_in "model padded with:       blanks" "$("$tool" show "$state")"
"$tool" create "$state" --model-padding zero || fail "create with zero padding"
expect_in "model padded with:       zero bytes" "$("$tool" show "$state")"
"$tool" create "$state.x" --model-padding tabs >/dev/null 2>&1; [ $? -eq 2 ] || fail "an unknown padding must be refused with 2"

# An update interrupted after the preparation: the state file says the sub processor's image is
# incomplete (the head is text; the flash after it is left as it is).
perl -pi -e 's/^sub-image=complete$/sub-image=incomplete/' "$state"
out=$("$tool" show "$state")
expect_in "sub processor firmware:  0.00 (image incomplete: update interrupted)" "$out"
expect_in "main processor firmware: 1.00" "$out"
rm -rf "$(dirname "$state")"
echo "recorder-sim: all checks passed"
