#!/usr/bin/env bash
# The Windows desktop program's screenshot tour, under Wine with Xvfb (not part of the tests: it
# needs a display). Runs tallyport-desktop.exe in Wine's virtual desktop (task bar and tray) on
# a shop with two registers whose ports this computer does not have, and saves PNGs of the
# balloon, the tray menu, every tab, the register dialog (change and add), the close question:
#   build-windows/screenshots/NN-name.png
# The cross build (preset windows) must be there; xvfb and imagemagick are installed by
# ./scripts/setup.sh with TALLYPORT_SETUP_WINDOWS=1.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/build-windows/screenshots
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver64
export WINEPREFIX=$ROOT/build-windows/wine-shots
export WINEDEBUG=-all
export LANG=ro_RO.UTF-8
SIZE=1024x768

cmake --build --preset windows --target tallyport_desktop tallyport-desktop-tour >/dev/null

# A display of our own: the first free number from 90 on.
display=90
while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
export DISPLAY=:$display
Xvfb "$DISPLAY" -screen 0 ${SIZE}x24 >/dev/null 2>&1 &
XVFB=$!
PROGRAM_PID=""
cleanup() {
  [[ -n "$PROGRAM_PID" ]] && kill "$PROGRAM_PID" 2>/dev/null || true
  "$SERVER" -k 2>/dev/null || true
  kill "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done

# Every program of this prefix runs in one virtual desktop with a task bar and a tray.
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
fi
"$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$SIZE" /f >/dev/null 2>&1
"$SERVER" -w
setsid "$SERVER" -p </dev/null >/dev/null 2>&1 &
"$WINE" wineboot </dev/null >/dev/null 2>&1

shop=$OUT/shop
rm -rf "$OUT"
mkdir -p "$shop"
printf '' >"$shop/PLU.txt"
printf '1,Datecs MP55,9600,8,None,1,COM7,DA00000001,CASA 1\r\n2,Datecs MP500,4800,8,None,1,COM8,DA00000002,CASA \xAA\r\n' >"$shop/ECRs.dat"
printf '[Scale]\r\nPrefix=27\r\n[Options]\r\nRecDiscount=1\r\n' >"$shop/Tallyport.ini"
"$WINE" "$ROOT/build-windows/tallyport-desktop.exe" --config "Z:${shop//\//\\}\\Tallyport.ini" \
  </dev/null >"$OUT/tallyport.log" 2>&1 &
PROGRAM_PID=$!

tour() { "$WINE" "$ROOT/build-windows/tallyport-desktop-tour.exe" "$@" </dev/null; }
shot() {
  sleep "${2:-0.6}"
  import -window root "$OUT/$1.png"
  echo "$OUT/$1.png"
}

tour wait
shot 01-balloon 4  # the first retry of a port that is not there brings the balloon
tour show
shot 03-case-de-marcat 1.5
for tab in 1 2 3 4; do
  tour tab $tab
  case $tab in
    1) name=coduri-cantar ;;
    2) name=interfata-backoffice ;;
    3) name=alte-setari ;;
    4) name=autor ;;
  esac
  shot "0$((tab + 3))-$name"
done
tour tab 0
tour disconnect
shot 08-deconectat
tour dialog edit
shot 09-dialog-editare
tour escape
tour dialog add
shot 10-dialog-adaugare
tour escape
# The tray menu once the balloon has gone (it would cover the menu).
sleep 4
tour traymenu 1000 750
shot 02-tray-menu
tour escape
tour close
shot 11-inchidere
tour yes
wait "$PROGRAM_PID" || true
PROGRAM_PID=""
