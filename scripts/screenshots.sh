#!/usr/bin/env bash
# Captures every page of Monoflash's wizard and its progress dialog, and the three pages of Duoflash's,
# from the simulation builds under a virtual display, into docs/screenshots/. A tool for the README,
# not a test.
#
#   scripts/screenshots.sh [monoflash] [duoflash] [en] [de] [ja]
#
# takes the pictures of the programs and languages named (default: both programs, en de ja). Each
# picture is taken once the program shows the state it is named after, read back from inside Wine by
# scripts/shot-probe.cpp (page, title and texts as the glossary words them in that language), and the
# state must still hold after the capture; a picture that equals an earlier one of the same language
# fails too. On failure the script names the picture and what the desktop showed instead, keeps the
# capture in build/shots/ and leaves docs/screenshots/ as it was for that picture.
#
# Duoflash's pages 1 and 2 come from a run of its simulation build, gone through to its end with both
# real stages. Its page 3 is active only while stage 2 runs, behind the sheet that the wrapper hides
# then: no user sees it. Its picture comes from the wrapper whose stages are the tests' stand-in, held
# running while the script shows the hidden sheet without activating it.
#
# Besides what `make` needs it wants xdotool, ImageMagick, Wine's own fonts (fonts-wine), fonts with
# Japanese glyphs (fonts-ipafont-gothic) and the locales of the languages; it says what is missing.
# The pages of the customer and storage-check entries come from the builds the end-to-end tests make.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$here/build}
sim=$build/native/sim/recorder-sim
factory=$build/win/bin/sim/Monoflash-stage2.exe
customer=$build/win/bin/e2e/customer/Monoflash.exe
storage=$build/win/bin/e2e/storage/Monoflash.exe
wrapper=$build/win/bin/sim/Duoflash.exe
standin=$build/win/bin/standin/Duoflash.exe
glossary=$here/payload/glossary/monoflash.tsv
duo_glossary=$here/payload/glossary/duoflash.tsv
out=$here/docs/screenshots
work=$build/shots
probe=$work/shot-probe.exe
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/win/wineprefix}
desktop=shots
crop=720x620  # every picture the same size, for the README's table
die() { echo "screenshots: $*" >&2; exit 1; }

programs=()
languages=()
for word in "$@"; do
  case $word in
    monoflash | duoflash) programs+=("$word") ;;
    -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) languages+=("$word") ;;
  esac
done
[ ${#programs[@]} -gt 0 ] || programs=(monoflash duoflash)
[ ${#languages[@]} -gt 0 ] || languages=(en de ja)
takes() { [[ " ${programs[*]} " == *" $1 "* ]]; }

locale_of() {
  case $1 in
    en) echo en_US.UTF-8 ;;
    de) echo de_DE.UTF-8 ;;
    ja) echo ja_JP.UTF-8 ;;
    *) return 1 ;;
  esac
}
column_of() {  # the glossary's column for a language
  case $1 in en) echo ENU ;; de) echo DEU ;; ja) echo JPN ;; esac
}

# ---- what the script needs, all of it said at once ----
missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$1 (Debian package $2)"); }
need Xvfb xvfb
need xdotool xdotool
need import imagemagick
need identify imagemagick
need wine wine
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need fc-list fontconfig
[ -f /usr/share/wine/fonts/marlett.ttf ] || [ -f /usr/local/share/wine/fonts/marlett.ttf ] ||
  missing+=("Wine's own fonts, Marlett for the title bar's buttons (Debian package fonts-wine)")
for lang in "${languages[@]}"; do
  locale=$(locale_of "$lang") || die "unknown language \"$lang\" (en, de or ja)"
  # glibc lists "ja_JP.UTF-8" as "ja_JP.utf8"; Wine takes its language from the Unix locale.
  grep -qix "${locale%.UTF-8}.utf8" <<<"$(locale -a 2>/dev/null)" ||
    missing+=("locale $locale (as root: localedef -i ${locale%.UTF-8} -f UTF-8 $locale)")
done
if [[ " ${languages[*]} " == *" ja "* ]] && command -v fc-list >/dev/null 2>&1; then
  [ -n "$(fc-list :lang=ja family)" ] || missing+=("fonts with Japanese glyphs (Debian package fonts-ipafont-gothic)")
fi
needed=("$sim")
takes monoflash && needed+=("$factory" "$customer" "$storage")
takes duoflash && needed+=("$wrapper" "$standin")
for file in "${needed[@]}"; do
  [ -e "$file" ] || missing+=("$file (make all builds it)")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "screenshots: missing:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  exit 1
fi

mkdir -p "$out" "$work"
if [ ! "$probe" -nt "$here/scripts/shot-probe.cpp" ]; then
  i686-w64-mingw32-g++-posix -std=c++20 -O2 -Wall -static -municode -o "$probe" "$here/scripts/shot-probe.cpp"
fi

# ---- one program on its own virtual display ----
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    WINEPREFIX=$ZT_WINEPREFIX wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    xvfb=
  fi
}
trap cleanup EXIT

# wait_until <seconds> <command...>: runs the command until it succeeds or the time is up.
wait_until() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.1
  done
}

# start <program> <recorder-sim create options> [--unplugged]
start() {
  local program=$1 unplugged=0 options=()
  shift
  for option in "$@"; do
    if [ "$option" = --unplugged ]; then unplugged=1; else options+=("$option"); fi
  done
  recorder=$work/recorder.sim
  "$sim" create "$recorder" "${options[@]}" >/dev/null
  [ $unplugged -eq 0 ] || "$sim" unplug "$recorder"
  # The X server picks a free display and writes its number once it takes connections.
  : >"$work/display"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  wait_until 20 test -s "$work/display" || die "the virtual display did not start (see $work/xvfb.log)"
  DISPLAY=:$(head -n 1 "$work/display")
  export DISPLAY
  export ZT_SIM_RECORDER="Z:${recorder//\//\\}"
  # Wine's own desktop draws the title bars that a display without a window manager lacks.
  "$here/scripts/wine-run.sh" explorer /desktop=$desktop,1024x768 "$program" >"$work/$lang-program.log" 2>&1 &
  running=$!
}

# await_end <picture>: the program has ended on its own (its desktop goes with its last window).
ended() { ! kill -0 "$running" 2>/dev/null; }
await_end() {
  wait_until 60 ended ||
    fail "$1" "the program did not end; the desktop has: $(probe list 2>&1)"
}

stop() {
  cleanup
  wait 2>/dev/null || true
}

probe() { "$here/scripts/wine-run.sh" "$probe" "$desktop" "$@"; }

text() {  # text <id> [<table>]: the glossary's text in the current language, escapes kept as stored
  local table=${2:-$glossary}
  awk -F'\t' -v id="$1" -v column="$(column_of "$lang")" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == column) c = i; next }
    $1 == id { print $c; found = 1; exit }
    END { if (!found) exit 1 }' "$table" || die "no text $1 in $table"
}

# await_state <what> <seconds>: waits for a state and keeps what the probe read back in $state.
#   page:<n>     Monoflash on page n, with its title and the comment of that page in this language
#   progress:<p> the progress dialog at p percent or beyond, with its title and a stage text
#   duoflash:<n> Duoflash on page n (0 to 2), with its title and both texts of that page
declare -A comment_of=([0]=11001 [1]=11002 [2]=11003 [3]=11006 [4]=11004 [5]=11005)
declare -A duo_texts_of=([0]="12000 12010" [1]="12011 12012" [2]="13003")
await_state() {
  local what=$1 seconds=$2
  # The sub-processor builds add " - (SUB CPU)" to the title; "%s" stands for it.
  local title
  title="$(text 10000)%s"
  case $what in
    page:*)
      state=$(probe page "${what#page:}" "$seconds" "$title" "$(text "${comment_of[${what#page:}]}")" 2>"$work/probe.err") ;;
    progress:*)
      state=$(probe progress "${what#progress:}" "$seconds" "$title" "$(text 12001)" "$(text 12002)" "$(text 12003)" \
        2>"$work/probe.err") ;;
    duoflash:*)
      local page=${what#duoflash:} texts=() id
      for id in ${duo_texts_of[$page]}; do texts+=("$(text "$id" "$duo_glossary")"); done
      state=$(probe page "$page" "$seconds" "$(text 10000 "$duo_glossary")" "${texts[@]}" 2>"$work/probe.err") ;;
  esac
}

# press <key> <picture>: types a key into Monoflash's wizard, made the desktop's foreground window
# first, on the way to a picture (named if the key cannot be typed).
press() {
  probe focus 20 >/dev/null 2>"$work/probe.err" || fail "$2" "cannot press $1: $(cat "$work/probe.err")"
  local windows
  windows=$(xdotool search --onlyvisible --name "^$(text 10000)" 2>/dev/null) || true
  [ "$(wc -w <<<"$windows")" -eq 1 ] || fail "$2" "cannot press $1: not one wizard window but ${windows:-none}"
  # A key that closes the window leaves its release nowhere to go: that failure is the key's success.
  xdotool key --window "$windows" "$1" 2>"$work/xdotool.err" || ! xdotool getwindowname "$windows" >/dev/null 2>&1 ||
    fail "$2" "cannot press $1: $(cat "$work/xdotool.err")"
}

# click <control> <picture>: clicks a button of the wizard with the mouse, then moves the mouse off
# every window, on the way to a picture.
click() {
  local centre
  centre=$(probe button 20 "$1" 2>"$work/probe.err") || fail "$2" "cannot click $1: $(cat "$work/probe.err")"
  # shellcheck disable=SC2086 # "x y"
  xdotool mousemove $centre click 1 mousemove 1000 740
}

fail() {  # fail <picture> <why>
  echo "screenshots: $lang-$1: $2" >&2
  exit 1
}

# shoot <name> <state>: the picture of a state, taken once it shows and checked to still show after.
declare -A signatures=()
shoot() {
  local name=$lang-$1 what=$2 seconds=${3:-60}
  await_state "$what" "$seconds" || fail "$1" "$(cat "$work/probe.err")"
  if [[ $what == page:* || $what == duoflash:* ]]; then
    # The wizard in front with its title bar drawn active, as a user sees it.
    probe focus 20 >/dev/null 2>"$work/probe.err" || fail "$1" "$(cat "$work/probe.err")"
    await_state "$what" 0 || fail "$1" "the page changed when the wizard came to the front: $(cat "$work/probe.err")"
  fi
  local shown=$state box
  box=$(sed -n 's/^box //p' <<<"$state")
  read -r x y w h <<<"$box"
  if [ $((x + w)) -gt ${crop%x*} ] || [ $((y + h)) -gt ${crop#*x} ] || [ "$x" -lt 0 ] || [ "$y" -lt 0 ]; then
    fail "$1" "its windows ($box) reach beyond the picture ($crop)"
  fi
  import -display "$DISPLAY" -window root -crop "$crop+0+0" +repage "$work/$name.png"
  await_state "$what" 0 || fail "$1" "the state changed while it was captured: $(cat "$work/probe.err")"
  local signature
  signature=$(identify -format '%#' "$work/$name.png")
  [ -z "${signatures[$signature]:-}" ] || fail "$1" "the same picture as $lang-${signatures[$signature]}"
  signatures[$signature]=$1
  cp "$work/$name.png" "$out/$name.png"
  local texts
  texts="$(head -n 1 <<<"$shown") | $(sed -n '2,${/^box /d;p}' <<<"$shown" | tr '\n' ' ')"
  printf '%-28s %s\n' "$name.png" "${texts:0:100}"
}

monoflash_pictures() {
  # A slower recorder, so that the progress dialog stays long enough to be caught mid-way.
  local slow=(--main-version 1.00 --sub-version 1.00 --steps 300)

  start "$factory" "${slow[@]}" --unplugged
  shoot page0-waiting page:0 120
  "$sim" plug "$recorder"
  shoot page1-offered page:1
  press Return progress
  shoot progress progress:20
  shoot page5-finished page:5 120
  stop

  start "$customer" "${slow[@]}"
  await_state page:1 120 || fail page4-last-warning "$(cat "$work/probe.err")"
  press Return page4-last-warning
  shoot page4-last-warning page:4
  stop

  start "$customer" --main-version 1.01 --sub-version 1.01
  shoot page2-not-required page:2 120
  stop

  start "$storage" --storage-size 2147483648
  shoot page3-other-storage page:3 120
  stop
}

duoflash_pictures() {
  local next=12324  # the sheet's Next button
  # A whole run as a user makes it: page 1, stage 1 started, page 2 once stage 1 has left its
  # marker, and stage 2 gone through, so that the wrapper ends and deletes what it wrote.
  start "$wrapper" --main-version 1.00 --sub-version 1.00
  shoot duoflash-page1 duoflash:0 120
  click $next duoflash-page2
  await_state page:1 120 || fail duoflash-page2 "stage 1 did not offer its update: $(cat "$work/probe.err")"
  press Return duoflash-page2
  shoot duoflash-page2 duoflash:1 120
  click $next duoflash-end
  await_state page:1 120 || fail duoflash-end "stage 2 did not offer its update: $(cat "$work/probe.err")"
  press Return duoflash-end
  await_state page:5 120 || fail duoflash-end "stage 2 did not finish: $(cat "$work/probe.err")"
  press Escape duoflash-end
  await_end duoflash-end
  stop

  # Page 3, behind the hidden sheet while the stand-in stage 2 is held running.
  local hold=$work/hold
  rm -f "$hold"
  export ZT_STANDIN_HOLD="Z:${hold//\//\\}" ZT_STANDIN_MARKER=1
  start "$standin" --main-version 1.00 --sub-version 1.00
  await_state duoflash:0 120 || fail duoflash-page3 "page 1 did not show: $(cat "$work/probe.err")"
  click $next duoflash-page3
  await_state duoflash:1 60 || fail duoflash-page3 "page 2 did not show: $(cat "$work/probe.err")"
  : >"$hold"
  click $next duoflash-page3
  probe reveal 30 >/dev/null 2>"$work/probe.err" || fail duoflash-page3 "$(cat "$work/probe.err")"
  shoot duoflash-page3 duoflash:2 30
  rm -f "$hold"
  await_end duoflash-end
  stop
  unset ZT_STANDIN_HOLD ZT_STANDIN_MARKER
}

for lang in "${languages[@]}"; do
  locale=$(locale_of "$lang")
  export LANG=$locale LC_ALL=$locale
  signatures=()
  if takes monoflash; then monoflash_pictures; fi
  if takes duoflash; then duoflash_pictures; fi
done
