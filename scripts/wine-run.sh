#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine: the emulator of the windows preset's
# tests. The prefix is TALLYPORT_WINEPREFIX, or build-windows/wine beside this script's project;
# scripts/wine-prefix.sh makes it and starts its persistent wineserver.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${TALLYPORT_WINEPREFIX:-$here/build-windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
exec /usr/lib/wine/wine64 "$@"
