#!/usr/bin/env bash
# Makes the Wine prefix that the Windows tests run in (once; about 5 s) and starts its
# persistent wineserver, so that each test program starts in a few tens of milliseconds and no
# helper process of Wine keeps a test's output pipe open after it ends.
#   scripts/wine-prefix.sh          make the prefix if missing, start the server
#   scripts/wine-prefix.sh --stop   end the server (and every Windows program in the prefix)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${TALLYPORT_WINEPREFIX:-$here/build-windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver64

if [[ "${1:-}" == --stop ]]; then
  "$SERVER" -k 2>/dev/null || true
  exit 0
fi

mkdir -p "$(dirname "$WINEPREFIX")"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  "$SERVER" -w
fi
# The tests need no display: windows (the desktop program's, driven through their messages) are
# made by Wine's null driver, which draws nothing. Read when the prefix's desktop starts, so an
# older prefix's server is ended once to take it.
if ! grep -q '"Graphics"="null"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  "$SERVER" -k 2>/dev/null || true
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  "$SERVER" -w
fi
# -p: the server stays after its last client; setsid: it outlives this shell's job control.
setsid "$SERVER" -p </dev/null >/dev/null 2>&1 &
"$WINE" wineboot </dev/null >/dev/null 2>&1
echo "$WINEPREFIX"
