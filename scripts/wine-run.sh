#!/usr/bin/env bash
# Runs a Windows program under Wine in the Windows build tree's own prefix. The prefix is made on
# first use (wineboot -i), under a lock, because CTest may start several tests at once.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${ZT_WINEPREFIX:-$here/build/win/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win32
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Wine's own fonts (Marlett draws the title bar's buttons, Tahoma stands behind "MS Shell Dlg") come
# in a package of their own, and this Wine does not look in the folder that package fills. The
# prefix's Fonts folder is where every Wine looks, so they are linked there; without them the close
# button shows a letter and dialogs take whatever font the system falls back to.
for wine_fonts in /usr/share/wine/fonts /usr/local/share/wine/fonts; do
  [ -f "$wine_fonts/marlett.ttf" ] || continue
  if [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ] && [ -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
    for font in "$wine_fonts"/*; do ln -sfn "$font" "$WINEPREFIX/drive_c/windows/Fonts/" || true; done
  fi
  break
done
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$@"
fi
exec wine "$@"
