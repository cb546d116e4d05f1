#!/usr/bin/env bash
# Runs the Windows tree's tests under Wine: one virtual display for the whole run (one Wine prefix has
# one desktop) and one Wine server that stays up from the first test to the last. Left to itself the
# server shuts down a few seconds after each program, and a test that starts in that moment dies with
# "connection reset"; the programs Wine starts beside the first one (its services) are started here,
# outside CTest, which would otherwise wait for them to let go of a test's output.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: test-win.sh <Windows build folder> [ctest arguments]}" && pwd)
shift
export ZT_WINEPREFIX=${ZT_WINEPREFIX:-$build/wineprefix}

if [ -z "${ZT_TEST_WIN_DISPLAY:-}" ]; then
  exec env ZT_TEST_WIN_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$@"
fi

# The prefix is made on first use, under wine-run.sh's lock; then its ordinary server makes way for
# one that stays, and Wine's services start beside a program of ours rather than beside a test.
"$here/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
WINEPREFIX=$ZT_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
WINEPREFIX=$ZT_WINEPREFIX wineserver -p </dev/null >/dev/null 2>&1 || true
"$here/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true

status=0
(cd "$build" && ctest --output-on-failure "$@") || status=$?
WINEPREFIX=$ZT_WINEPREFIX wineserver -k >/dev/null 2>&1 || true
exit $status
