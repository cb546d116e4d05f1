#!/usr/bin/env bash
# Draws the pages of Reflash, its progress sheet and its alerts, in the languages given (default: en
# ja), into docs/screenshots/mac-<language>-<state>.png. A tool for the README, not a test.
#
# Reflash runs as a real program in simulated Macs (mac-sim) against simulated recorders, driven by
# scripts of a user's clicks; the script move `capture` writes what the front window shows at that
# moment (its window tree: title, texts, buttons, picture, the sheet or alert over it) and says in
# the transcript what that is; mac-render draws it. Each picture must show the state it is named
# after: the transcript at the capture must hold the window's title and every piece of the page's
# text as the glossary words it in that language, and mac-render must have drawn every word (nothing
# cut off, no character without a font). On failure the script names the picture and what the
# capture held instead, keeps everything in build/mac-shots/ and leaves docs/screenshots/ as it was.
#
#   scripts/mac-screenshots.sh [en|ja ...]        (NATIVE=<native build folder>, default build/native)
#
# Needs the native tree built with mac-render (libjpeg62-turbo-dev, libfreetype-dev, zlib1g-dev,
# fonts-dejavu-core and fonts-ipafont-gothic, all installed by scripts/bootstrap.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=${NATIVE:-$here/build/native}
mac_sim=$native/mac/sim/mac-sim
recorder_sim=$native/sim/recorder-sim
render=$native/mac/render/mac-render
app=$native/mac/updater/main/Reflash.app
glossary=$here/payload/glossary/reflash.tsv
out=$here/docs/screenshots
work=$here/build/mac-shots
languages=("$@")
[ $# -gt 0 ] || languages=(en ja)

die() { echo "mac-screenshots: $*" >&2; exit 1; }

for f in "$mac_sim" "$recorder_sim" "$app/Contents/MacOS/Reflash"; do
  [ -e "$f" ] || die "$f is missing; build the native tree first (make native)"
done
[ -x "$render" ] || die "$render is missing: the native tree was configured without libjpeg, FreeType or zlib (run scripts/bootstrap.sh, then make native)"

column_of() {  # the glossary's column for a language
  case $1 in
    ja) echo 2 ;;
    en) echo 3 ;;
    *) return 1 ;;
  esac
}

# The text of glossary entry $1 in language $2, with its \n and \t made real.
text() {
  local t
  t=$(awk -F'\t' -v id="$1" -v col="$(column_of "$2")" '$1 == id { print $col; exit }' "$glossary")
  [ -n "$t" ] || die "no text $1 in $glossary"
  t=${t//\\n/$'\n'}
  printf '%s' "${t//\\t/$'\t'}"
}

# The pieces of that text between its line feeds and its %s, one a line, blank ones left out: what
# the window must show of it word for word.
pieces() { text "$1" "$2" | sed 's/%s/\n/g' | grep -v '^[[:space:]]*$' || true; }

# The longest piece of text $1 in language $2, the one that tells its page from the others best,
# for waiting until it shows.
piece() { pieces "$1" "$2" | LC_ALL=C awk 'length($0) > n { n = length($0); p = $0 } END { print p }'; }

# What the transcript $1 says capture $2 held: the lines under "captured", without their marks.
held() {
  awk -v mark="captured \"$2\"" '
    index($0, mark) { on = 1; next }
    on && /^\[[^]]*\] +[0-9]+\.[0-9][0-9][0-9]  / { exit }
    on { sub(/^\[[^]]*\] /, ""); print substr($0, 15) }' "$1"
}

failed=0
made=()

# check <language> <state> <transcript> <glossary ids> [fragments...]: the capture shows the title,
# every piece of the texts, and each fragment (a button, "sheet"); then it is drawn.
check() {
  local lang=$1 state=$2 transcript=$3 ids=$4
  shift 4
  local capture=$work/$lang-$state.window picture=$work/mac-$lang-$state.png shown missing=()
  shown=$(held "$transcript" "$capture")
  if [ -z "$shown" ]; then
    echo "mac-screenshots: mac-$lang-$state: never captured; the run said:" >&2
    tail -n 30 "$transcript" >&2
    failed=1
    return
  fi
  local expected=("window \"$(text 10000 "$lang")\"" "$@")
  local id p
  for id in $ids; do
    while IFS= read -r p; do expected+=("$p"); done < <(pieces "$id" "$lang")
  done
  for p in "${expected[@]}"; do
    grep -qF -- "$p" <<<"$shown" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "mac-screenshots: mac-$lang-$state does not show what it is named after; missing:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    echo "the capture held:" >&2
    printf '%s\n' "$shown" | sed 's/^/  /' >&2
    failed=1
    return
  fi
  local status=0
  "$render" --scale 2 "$capture" "$picture" 2>"$work/render.err" || status=$?
  if [ $status -ne 0 ]; then
    echo "mac-screenshots: mac-$lang-$state is not drawn whole:" >&2
    cat "$work/render.err" >&2
    failed=1
    return
  fi
  made+=("mac-$lang-$state.png")
}

# run <language> <name> <Type of FwUpDate.INI> <plugged|unplugged> <moves> [recorder-sim create options]:
# Reflash for the main processor in a fresh simulated Mac, with the moves as its script; the
# transcript is $work/<language>-<name>.txt.
run() {
  local lang=$1 name=$2 type=$3 plugged=$4 moves=$5
  shift 5
  local root=$work/$lang-$name
  rm -rf "$root" "$root.sim"
  "$recorder_sim" create "$root.sim" --main-version 1.00 --sub-version 1.00 "$@" >/dev/null
  [ "$plugged" = plugged ] || "$recorder_sim" unplug "$root.sim" >/dev/null
  "$mac_sim" create "$root" --system-version 10.9.5 --languages "$lang" --recorder "$root.sim" >/dev/null
  "$mac_sim" install "$root" "$app" "/Applications/ZT-5100 Update" >/dev/null
  local ini="$root/Applications/ZT-5100 Update/Reflash.app/Contents/Resources/FwUpDate.INI"
  sed -i "s/^Type=.*/Type=$type/" "$ini"
  printf '%s\n' "$moves" >"$root.moves"
  "$mac_sim" run "$root" "/Applications/ZT-5100 Update/Reflash.app" --script "$root.moves" >"$root.txt" 2>&1 || true
}

rm -rf "$work"
mkdir -p "$work"
start=$(date +%s)
for lang in "${languages[@]}"; do
  column_of "$lang" >/dev/null || die "unknown language \"$lang\" (en or ja)"
  w=$work/$lang
  start_b=$(text 11016 "$lang") finish_b=$(text 11019 "$lang") next_b=$(text 11017 "$lang")
  cancel_b=$(text 11013 "$lang") ok_b=$(text 13101 "$lang")

  # Waiting for the recorder, plugged in: the update offered, written, done.
  run "$lang" update FACTORY unplugged "$(cat <<MOVES
expect-text "$(piece 11001 "$lang")"
capture "$w-page1-waiting.window"
plug
expect-text "$(piece 11002 "$lang")"
capture "$w-page2-offered.window"
click "$start_b"
expect-text "$(text 12002 "$lang")"
expect-text "(progress 50%)"
capture "$w-progress.window"
expect-text "$(piece 11005 "$lang")"
capture "$w-page5-finished.window"
click "$finish_b"
MOVES
)"
  check "$lang" page1-waiting "$w-update.txt" 11001 "[$cancel_b]"
  check "$lang" page2-offered "$w-update.txt" "11002 11010" "[$cancel_b]" "[$start_b]"
  check "$lang" progress "$w-update.txt" 12002 "sheet " "(progress 5"
  check "$lang" page5-finished "$w-update.txt" "11005 11010" "[$finish_b]"

  # A customer's recorder: the last warning before the update, then the cable pulled out.
  run "$lang" customer CUSTOMER plugged "$(cat <<MOVES
click "$next_b"
expect-text "$(piece 11004 "$lang")"
capture "$w-page4-last-warning.window"
unplug
expect-text "$(text 13002 "$lang")"
capture "$w-alert-disconnected.window"
click "$ok_b"
expect-text "$(piece 11001 "$lang")"
click "$cancel_b"
MOVES
)"
  check "$lang" page4-last-warning "$w-customer.txt" "11004 11010" "[$finish_b]" "[$start_b]"
  check "$lang" alert-disconnected "$w-customer.txt" 13002 "sheet " "[$ok_b]"

  # A customer's recorder that already has this firmware.
  run "$lang" current CUSTOMER plugged "$(cat <<MOVES
expect-text "$(piece 11003 "$lang")"
capture "$w-page3-not-required.window"
click "$finish_b"
MOVES
)" --main-version 1.01
  check "$lang" page3-not-required "$w-current.txt" "11003 11010" "[$finish_b]"

  # A device this firmware is not for.
  run "$lang" invalid FACTORY plugged "$(cat <<MOVES
expect-text "$(piece 11007 "$lang")"
capture "$w-page6-invalid-device.window"
click "$finish_b"
MOVES
)" --device-id 99
  check "$lang" page6-invalid-device "$w-invalid.txt" "11007 11010" "[$finish_b]"

  # The recorder's drive in use when the update starts.
  run "$lang" busy FACTORY plugged "$(cat <<MOVES
busy on
click "$start_b"
expect-text "$(piece 13013 "$lang")"
capture "$w-alert-drive-busy.window"
click "$ok_b"
busy off
click "$cancel_b"
MOVES
)"
  check "$lang" alert-drive-busy "$w-busy.txt" 13013 "sheet " "[$ok_b]"
done

[ $failed -eq 0 ] || die "failed; docs/screenshots/ is unchanged, the captures are in $work"
mkdir -p "$out"
for f in "${made[@]}"; do cp "$work/$f" "$out/$f"; done
echo "mac-screenshots: ${#made[@]} pictures in docs/screenshots/ ($(( $(date +%s) - start )) s)"
