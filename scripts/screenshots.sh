#!/usr/bin/env bash
# Captures every wizard page and the progress dialog of the simulation builds under a virtual display,
# in the languages given (default: en de ja), into docs/screenshots/. A tool for the README, not a
# test: besides what `make test` installs it needs xwd and ImageMagick's convert, xdotool to press the
# wizard's default button, and fonts with Japanese glyphs (fonts-ipafont-gothic) for "ja". The pages
# of the customer and storage-check entries come from the builds the end-to-end tests make.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$here/build}
sim=$build/native/sim/recorder-sim
factory=$build/win/bin/sim/Monoflash-stage2.exe
customer=$build/win/bin/e2e/customer/Monoflash.exe
storage=$build/win/bin/e2e/storage/Monoflash.exe
out=$here/docs/screenshots
mkdir -p "$out" "$build/shots"
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/win/wineprefix}
display=:87

shoot() { xwd -root -display $display | convert xwd:- -crop 720x620+0+0 +repage "$out/$1.png"; }

# session <program> <recorder options> -- <steps>: one run of a program on its own display; a step is
# "shoot:<name>", "wait:<seconds>", "key:<key>", "plug" or "unplug".
session() {
  local program=$1; shift
  local options=()
  while [ "$1" != "--" ]; do options+=("$1"); shift; done
  shift
  local recorder=$build/shots/recorder.sim
  "$sim" create "$recorder" "${options[@]}" >/dev/null
  Xvfb $display -screen 0 1024x768x24 >/dev/null 2>&1 &
  local xvfb=$!
  sleep 1
  (
    export DISPLAY=$display ZT_SIM_RECORDER="Z:${recorder//\//\\}"
    # Wine's own desktop draws the title bars that a display without a window manager lacks.
    "$here/scripts/wine-run.sh" explorer /desktop=shots,1024x768 "$program" >/dev/null 2>&1 &
    sleep 7
    for step in "$@"; do
      case $step in
        shoot:*) shoot "$lang-${step#shoot:}" ;;
        wait:*) sleep "${step#wait:}" ;;
        key:*) xdotool key --clearmodifiers "${step#key:}" ;;
        plug|unplug) "$sim" "$step" "$recorder" ;;
      esac
    done
    WINEPREFIX=$ZT_WINEPREFIX wineserver -k || true
  )
  kill $xvfb || true
  wait 2>/dev/null || true
}

for lang in ${@:-en de ja}; do
  case $lang in
    en) locale=en_US.UTF-8 ;;
    de) locale=de_DE.UTF-8 ;;
    ja) locale=ja_JP.UTF-8 ;;
    *) locale=$lang ;;
  esac
  export LANG=$locale LC_ALL=$locale
  # A slower recorder, so that the progress dialog is on the screen long enough to be caught.
  slow=(--main-version 1.00 --sub-version 1.00 --steps 40 --delay-ms 60)
  "$sim" create "$build/shots/unplugged.sim" >/dev/null
  session "$factory" "${slow[@]}" -- unplug wait:2 shoot:page0-waiting plug wait:3 shoot:page1-offered \
    key:Return wait:1.5 shoot:progress wait:15 shoot:page5-finished
  session "$customer" "${slow[@]}" -- key:Return wait:2 shoot:page4-last-warning
  session "$customer" --main-version 1.01 --sub-version 1.01 -- shoot:page2-not-required
  session "$storage" --storage-size 2147483648 -- shoot:page3-other-storage
done
