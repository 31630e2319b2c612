#!/usr/bin/env bash
# The Windows stage of ./scripts/test.sh --full, under Wine:
#   1. the cross build (preset windows) and the Linux register simulator,
#   2. the Windows suites under Wine (ctest --preset windows, a persistent wineserver first),
#   3. tallyport.exe in a console of its own, stopped by Ctrl+C: an orderly exit,
#   4. tallyport-ecrsim (Linux, registers on pseudo-terminals) trading with tallyport.exe
#      through COM ports mapped to those terminals, --verify passing; then again with the
#      program killed and restarted between receipts, and with the program as the service,
#      stopped and started by the service manager in the middle of receipts,
#   5. the installer, installed silently into a fresh Wine prefix: its files (the desktop program
#      behind the Start-menu entry), the installed
#      program's --version, its first start in the user's folder, an upgrade to the service,
#      the service's status, an upgrade that keeps the shop's files, the removal.
# Prints how long each step took. The Romanian shop's code page (1250) is the programs'.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc)
STAGE=$ROOT/build-windows/stage
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver64
export WINEDEBUG=-all
export LANG=ro_RO.UTF-8

TIMES=()
STEP=""
STEP_START=$SECONDS
step() {
  if [[ -n "$STEP" ]]; then
    TIMES+=("$(printf '%4d s  %s' $((SECONDS - STEP_START)) "$STEP")")
  fi
  STEP=$1
  STEP_START=$SECONDS
  printf '\n== windows: %s\n' "$STEP"
}
fail() {
  echo "test-windows: FAILED: $*" >&2
  exit 1
}
# Wine ends its services once no other Windows program runs in the prefix (Windows does not):
# while a step looks at the service, an idle console (cmd.exe reading from a pipe that this
# script holds open) keeps the prefix in use. `let_prefix_go` closes the pipe, and cmd ends.
keep_prefix_alive() {
  local fifo=$STAGE/keep-$RANDOM
  mkfifo "$fifo"
  "$WINE" cmd.exe <"$fifo" >/dev/null 2>&1 &
  PIDS+=("$!")
  exec 9>"$fifo"
  rm -f "$fifo"
}
let_prefix_go() { exec 9>&-; }

# The log of a program run in a console, without the terminal's escape sequences.
plain() { sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$1" | tr -d '\r'; }

# Processes of this script: stopped at the end whatever happens (by their numbers).
PIDS=()
INSTALL_PREFIX=""
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do
    kill -KILL "$pid" 2>/dev/null || true
  done
  if [[ -n "$INSTALL_PREFIX" ]]; then
    WINEPREFIX=$INSTALL_PREFIX "$SERVER" -k 2>/dev/null || true
  fi
}
trap cleanup EXIT

step "setup"
TALLYPORT_SETUP_WINDOWS=1 ./scripts/setup.sh

step "cross build (preset windows) and the register simulator (preset default)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$JOBS"
cmake --preset default >/dev/null
cmake --build --preset default -j "$JOBS" --target tallyport-ecrsim
ECRSIM=$ROOT/build/tallyport-ecrsim
PROGRAM=$ROOT/build-windows/tallyport.exe

step "Windows suites under Wine"
PREFIX=$(./scripts/wine-prefix.sh | tail -n 1)
export WINEPREFIX=$PREFIX
ctest --preset windows -j "$JOBS"

rm -rf "$STAGE"
mkdir -p "$STAGE"
# The Windows name of a Linux path (Wine's drive Z: is the root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

step "console: Ctrl+C ends the program in order"
shop=$STAGE/console
mkdir -p "$shop"
printf '' >"$shop/PLU.txt"
printf '1,Datecs MP55,9600,8,None,1,COM219,DA00000001,CASA 1\r\n' >"$shop/ECRs.dat"
./scripts/pty-console.py "$shop/console.log" ./scripts/wine-run.sh "$PROGRAM" \
  --config "$(winpath "$shop/Tallyport.ini")" &
driver=$!
PIDS+=("$driver")
for _ in $(seq 300); do
  # Connected, its worker tries the port that is not there once a second and says so.
  plain "$shop/console.log" 2>/dev/null | grep -q "Se incearca din nou" && break
  sleep 0.1
done
kill -INT "$driver"
status=0
wait "$driver" || status=$?
plain "$shop/console.log" | tail -n 3
((status == 0)) || fail "the program ended with $status after Ctrl+C"
grep -q "PLU=PLU.txt" "$shop/Tallyport.ini" || fail "Ctrl+C: the settings were not written"
plain "$shop/console.log" | grep -q "Tallyport s-a oprit." || fail "Ctrl+C: no orderly exit"
# The system's text in the console with its Romanian letters (the ANSI code page's bytes shown
# as such, not read in the console's OEM code page).
plain "$shop/console.log" | grep -q "găsit" ||
  fail "console: the system's text is not shown in the console's letters"

# A shop for the simulated registers: the article file and the configuration.
make_shop() {
  local dir=$1
  mkdir -p "$dir"
  sed 's/$/\r/' >"$dir/PLU.txt" <<'ARTICLES'
0000000000001,01,1,2.5,3,PAINE ALB
0000000000002,01,1,3.2,3,PAINE INTEGRAL
0000000000010,02,1,4.75,3,LAPTE 1.5%% 1L
0000000000020,03,1,5.5,3,APA MINERALA 2L
0000000000123,01,1,2.5,3,Paine
5941234000017,06,1,7.99,3,Detergent vase 500ml
5941234000024,06,1,15.5,3,Sapun lichid
5941234000031,06,2,11.25,3,Napolitane cu crema de alune 500g
0000059412347,09,1,1.5,3,Guma de mestecat
2400001000000,10,1,29.9,3,Piept de pui
2400004000000,11,1,6.99,3,Mere golden
2400008000000,12,2,32.5,2,Salam de vara
2400009000000,13,1,3,1,Cartofi
ARTICLES
  sed 's/$/\r/' >"$dir/Tallyport.ini" <<'CONFIG'
[Files]
PLU=PLU.txt
ReceiptMaster=Bon.txt
ReceiptDetail=Tran.txt
ECRList=ECRs.dat
[CardOptions]
Min=1
Max=150
[Options]
RecAmount=0
CONFIG
}

# Waits until the simulator's status file reads $2.
wait_status() {
  local file=$1 wanted=$2
  for _ in $(seq 600); do
    [[ "$(cat "$file" 2>/dev/null)" == "$wanted" ]] && return 0
    sleep 0.1
  done
  fail "the simulator did not reach \"$wanted\""
}

# The simulator's register list names pseudo-terminals: each becomes COM<10 + n> in the prefix
# (a link in dosdevices, read when the program opens the port) and the list names those.
map_ports() {
  local dir=$1 line n port
  local mapped=""
  while IFS= read -r line; do
    line=${line%$'\r'}
    [[ -z "$line" ]] && continue
    n=${line%%,*}
    port=$(cut -d, -f7 <<<"$line")
    ln -sfn "$port" "$WINEPREFIX/dosdevices/com$((10 + n))"
    mapped+="$(cut -d, -f1-6 <<<"$line"),COM$((10 + n)),$(cut -d, -f8- <<<"$line")"$'\r\n'
  done <"$dir/ECRs.dat"
  printf '%s' "$mapped" >"$dir/ECRs.dat"
}

start_program() {
  local dir=$1
  ./scripts/pty-console.py "$dir/tallyport.log" ./scripts/wine-run.sh "$PROGRAM" \
    --config "$(winpath "$dir/Tallyport.ini")" &
  PROGRAM_DRIVER=$!
  PIDS+=("$PROGRAM_DRIVER")
}

stop_program() {
  local dir=$1 status=0
  kill -INT "$PROGRAM_DRIVER"
  wait "$PROGRAM_DRIVER" || status=$?
  ((status == 0)) || { plain "$dir/tallyport.log" | tail -n 20; fail "the program ended with $status"; }
}

step "end to end: three registers on COM ports trade with tallyport.exe, --verify"
shop=$STAGE/e2e
make_shop "$shop"
"$ECRSIM" --config "$shop/Tallyport.ini" --dir "$shop" --registers 3 --seed 21 --pace 40 \
  --receipts 24 --seconds 240 --finish-receipts --verify --quiet \
  --status-file "$shop/status" >"$shop/ecrsim.log" 2>&1 &
tool=$!
PIDS+=("$tool")
wait_status "$shop/status" running
map_ports "$shop"
start_program "$shop"
status=0
wait "$tool" || status=$?
tail -n 6 "$shop/ecrsim.log"
((status == 0)) || fail "end to end: the simulator's check failed ($status)"
stop_program "$shop"
grep -q "verification passed" "$shop/ecrsim.log" || fail "end to end: no verification"

step "end to end: tallyport.exe killed and restarted between receipts, --verify"
shop=$STAGE/e2e-kill
make_shop "$shop"
"$ECRSIM" --config "$shop/Tallyport.ini" --dir "$shop" --registers 3 --seed 22 --pace 40 \
  --seconds 0 --finish-receipts --verify --quiet \
  --status-file "$shop/status" >"$shop/ecrsim.log" 2>&1 &
tool=$!
PIDS+=("$tool")
wait_status "$shop/status" running
map_ports "$shop"
start_program "$shop"
closed=0
for restart in 1 2; do
  sleep 4
  kill -USR1 "$tool"
  wait_status "$shop/status" paused
  now=$(grep -c . "$shop/Bon.txt" 2>/dev/null || true)
  ((now > closed)) || fail "kill $restart: the program served no receipt before it"
  closed=$now
  kill -USR1 "$PROGRAM_DRIVER"  # SIGKILL to the program: a crash
  status=0
  wait "$PROGRAM_DRIVER" || status=$?
  ((status == 128 + 9)) || fail "kill $restart: the program ended with $status"
  start_program "$shop"
  kill -USR2 "$tool"
  wait_status "$shop/status" running
done
sleep 4
kill -INT "$tool"
status=0
wait "$tool" || status=$?
tail -n 6 "$shop/ecrsim.log"
((status == 0)) || fail "killed and restarted: the simulator's check failed ($status)"
stop_program "$shop"
grep -q "verification passed" "$shop/ecrsim.log" || fail "killed and restarted: no verification"
(($(grep -c . "$shop/Bon.txt") > closed)) || fail "killed and restarted: not served after it"

step "end to end: the service stopped in the middle of receipts and started again, --verify"
# A service cannot refuse a stop: the journal keeps the open receipts, the log names them, and
# the registers go on with them once it runs again.
shop=$STAGE/e2e-service
make_shop "$shop"
"$ECRSIM" --config "$shop/Tallyport.ini" --dir "$shop" --registers 3 --seed 23 --pace 40 \
  --seconds 0 --finish-receipts --verify --quiet --gap 3000 --kills-file "$shop/stops" \
  --status-file "$shop/status" >"$shop/ecrsim.log" 2>&1 &
tool=$!
PIDS+=("$tool")
wait_status "$shop/status" running
map_ports "$shop"
service_state() { "$WINE" sc query Tallyport </dev/null 2>/dev/null | tr -d '\r'; }
wait_service() {
  for _ in $(seq 300); do
    service_state | grep -q "$1" && return 0
    sleep 0.1
  done
  fail "the service did not reach $1"
}
keep_prefix_alive
./scripts/wine-run.sh "$PROGRAM" --install-service --config "$(winpath "$shop/Tallyport.ini")"
wait_service RUNNING
for restart in 1 2 3; do
  sleep 3
  # The span of each stop (the simulator's steady clock), from the request to the stopped
  # service: an exchange the stop cut short is one the program never finished, as with a kill.
  stop_began=$(python3 -c 'import time; print(time.monotonic_ns())')
  "$WINE" sc stop Tallyport </dev/null >/dev/null 2>&1
  wait_service STOPPED
  echo "$stop_began $(python3 -c 'import time; print(time.monotonic_ns())')" >>"$shop/stops"
  "$WINE" sc start Tallyport </dev/null >/dev/null 2>&1
  wait_service RUNNING
done
grep -q "Oprire ceruta de sistem cu bonuri deschise" "$shop/Tallyport.log" ||
  echo "(no receipt was open at the service's stops)"
sleep 3
kill -INT "$tool"
status=0
wait "$tool" || status=$?
tail -n 6 "$shop/ecrsim.log"
./scripts/wine-run.sh "$PROGRAM" --remove-service >/dev/null
let_prefix_go
((status == 0)) || fail "the service stopped and started: the simulator's check failed ($status)"
grep -q "verification passed" "$shop/ecrsim.log" || fail "the service: no verification"
(($(grep -c "Tallyport s-a oprit." "$shop/Tallyport.log") == 4)) ||
  fail "the service: not every stop was in order"

step "installer: built, installed silently into a fresh prefix, upgraded, removed"
INSTALLER=$(./scripts/package-windows.sh | tail -n 1)
[[ -f "$INSTALLER" ]] || fail "no installer"
INSTALL_PREFIX=$STAGE/wine-install
rm -rf "$INSTALL_PREFIX"
export WINEPREFIX=$INSTALL_PREFIX
"$WINE" wineboot -i </dev/null >/dev/null 2>&1
"$SERVER" -w
setsid "$SERVER" -p </dev/null >/dev/null 2>&1 &
"$WINE" wineboot </dev/null >/dev/null 2>&1
drive=$INSTALL_PREFIX/drive_c
installed="$drive/Program Files/Tallyport"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Tallyport"
win() { "$WINE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
registry_has() { "$WINE" reg query "$1" </dev/null >/dev/null 2>&1; }

win "$INSTALLER" /S
for file in tallyport-desktop.exe tallyport.exe ManualECR.htm Uninstall.exe; do
  [[ -f "$installed/$file" ]] || fail "install: $file is missing"
done
for link in Tallyport.lnk "Manual Tallyport.lnk" "Dezinstalare Tallyport.lnk"; do
  [[ -f "$menu/$link" ]] || fail "install: the Start-menu entry $link is missing"
done
# The Start menu runs the desktop program (the link keeps its target's path in plain bytes).
grep -qa 'tallyport-desktop.exe' "$menu/Tallyport.lnk" ||
  fail "install: the Start-menu entry does not run tallyport-desktop.exe"
registry_has 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallyport' ||
  fail "install: no entry in the installed programs"
registry_has 'HKLM\SYSTEM\CurrentControlSet\Services\Tallyport' &&
  fail "install: the service was registered although not chosen"
version=$(win "C:\\Program Files\\Tallyport\\tallyport.exe" --version)
echo "installed: $version"
[[ "$version" == "Tallyport versiunea "* ]] || fail "the installed program's --version: $version"

# The installed program's first start keeps its files in the user's folder.
user_folder=$(ls -d "$drive"/users/*/AppData/Local | grep -v Public | head -n 1)/Tallyport
./scripts/pty-console.py "$STAGE/installed.log" "$WINE" 'C:\Program Files\Tallyport\tallyport.exe' &
driver=$!
PIDS+=("$driver")
for _ in $(seq 300); do
  [[ -f "$user_folder/Tallyport.ini" ]] && plain "$STAGE/installed.log" | grep -q "nici o casa" && break
  sleep 0.1
done
kill -INT "$driver"
wait "$driver" || true
for file in Tallyport.ini ECRs.dat PLU.txt; do
  [[ -f "$user_folder/$file" ]] || fail "first start: $file not made in the user's folder"
done

# An upgrade that chooses the service: registered, started, its files in %ProgramData%.
service_folder=$drive/ProgramData/Tallyport
keep_prefix_alive
win "$INSTALLER" /S /SERVICE
for _ in $(seq 300); do
  win sc query Tallyport | grep -q RUNNING && break
  sleep 0.1
done
win sc query Tallyport | grep -q RUNNING || fail "upgrade to the service: it does not run"
for _ in $(seq 300); do
  [[ -f "$service_folder/Tallyport.ini" ]] && break
  sleep 0.1
done
[[ -f "$service_folder/Tallyport.ini" ]] || fail "the service made no files in %ProgramData%"
status_text=""
for _ in $(seq 100); do
  status_text=$(win "C:\\Program Files\\Tallyport\\tallyport.exe" --status) && true
  [[ "$status_text" == "Tallyport ruleaza"* ]] && break
  sleep 0.2
done
echo "$status_text" | head -n 2
[[ "$status_text" == "Tallyport ruleaza"* ]] || fail "--status does not find the service"
printf 'ECR list of the shop\r\n' >"$service_folder/kept.txt"
cp "$user_folder/Tallyport.ini" "$STAGE/user-settings.ini"

# An upgrade that says nothing keeps the service and every file of the shop.
win "$INSTALLER" /S
for _ in $(seq 300); do
  win sc query Tallyport | grep -q RUNNING && break
  sleep 0.1
done
win sc query Tallyport | grep -q RUNNING || fail "upgrade: the service does not run again"
[[ -f "$service_folder/kept.txt" ]] || fail "upgrade: a file of the shop is gone"
cmp -s "$user_folder/Tallyport.ini" "$STAGE/user-settings.ini" || fail "upgrade: settings changed"

# The removal: the program, its entries and the service go; the shop's files stay.
win "$installed/Uninstall.exe" /S
for _ in $(seq 300); do
  [[ ! -e "$installed/tallyport.exe" ]] && ! registry_has 'HKLM\SYSTEM\CurrentControlSet\Services\Tallyport' && break
  sleep 0.1
done
[[ ! -e "$installed/tallyport.exe" ]] || fail "removal: the program is still there"
[[ ! -e "$menu" ]] || fail "removal: the Start-menu folder is still there"
registry_has 'HKLM\SYSTEM\CurrentControlSet\Services\Tallyport' && fail "removal: the service stays"
let_prefix_go
registry_has 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallyport' &&
  fail "removal: the installed programs still list it"
[[ -f "$service_folder/kept.txt" && -f "$service_folder/Tallyport.ini" ]] ||
  fail "removal: the service's files of the shop were removed"
[[ -f "$user_folder/Tallyport.ini" ]] || fail "removal: the user's files of the shop were removed"
"$SERVER" -k 2>/dev/null || true
INSTALL_PREFIX=""
rm -rf "$STAGE/wine-install"

step "done"
printf '\n== windows stage timings\n'
printf '%s\n' "${TIMES[@]}"
