#!/usr/bin/env bash
# Captures the wizard's pages and the progress dialog of the simulation build under a virtual display,
# in the languages given (default: en de ja), into docs/screenshots/. A tool for the README, not a
# test: it needs xwd and ImageMagick's convert besides what `make test` installs, and xdotool to press
# the wizard's default button.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$here/build}
sim=$build/native/sim/recorder-sim
program=$build/win/bin/sim/Monoflash-stage2.exe
out=$here/docs/screenshots
mkdir -p "$out" "$build/shots"
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/win/wineprefix}
display=:87

shoot() { xwd -root -display $display | convert xwd:- -crop 720x620+0+0 +repage "$out/$1.png"; }

for lang in "${@:-en de ja}"; do
  case $lang in
    en) locale=en_US.UTF-8 ;;
    de) locale=de_DE.UTF-8 ;;
    ja) locale=ja_JP.UTF-8 ;;
    *) locale=$lang ;;
  esac
  recorder=$build/shots/recorder-$lang.sim
  # A slower recorder, so that the progress dialog is on the screen long enough to be caught.
  "$sim" create "$recorder" --main-version 1.00 --sub-version 1.00 --steps 40 --delay-ms 60 >/dev/null
  "$sim" unplug "$recorder"
  Xvfb $display -screen 0 1024x768x24 >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  (
    export DISPLAY=$display LANG=$locale LC_ALL=$locale ZT_SIM_RECORDER="Z:${recorder//\//\\}"
    # Wine's own desktop draws the title bars that a display without a window manager lacks.
    "$here/scripts/wine-run.sh" explorer /desktop=shots,1024x768 "$program" >/dev/null 2>&1 &
    sleep 8;  shoot "$lang-page0-waiting"
    "$sim" plug "$recorder"
    sleep 3;  shoot "$lang-page1-offered"
    xdotool key --clearmodifiers Return
    sleep 1.5; shoot "$lang-progress"
    sleep 15; shoot "$lang-page5-finished"
    wineserver -k || true
  )
  kill $xvfb || true
  wait 2>/dev/null || true
done
