#!/usr/bin/env bash
# A shop in a box: installs what is missing, builds the program and the register simulator,
# then lets three simulated cash registers trade with Tallyport for a while and checks every
# line the program wrote to the back-office files.
#
#   TALLYPORT_DEMO_SECONDS  trading time in seconds (default 20)
#   TALLYPORT_DEMO_SEED     seed of the shop's choices (default 1)
#
# Everything lands in demo/ at the top of the repository: the article file, the configuration
# beside a copy of the program, the register list, the two back-office files and the logs.
# With a display ($DISPLAY) the program runs with its window and tray icon, otherwise with
# --headless. Exits non-zero when the files do not verify.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEMO="$ROOT/demo"
BUILD="$ROOT/build"
SECONDS_TO_TRADE=${TALLYPORT_DEMO_SECONDS:-20}
SEED=${TALLYPORT_DEMO_SEED:-1}

step() { printf '\n== %s\n' "$*"; }

PROGRAM_PID=""
STARTER_PID=""
# Whatever happens, no process of the demo outlives it.
cleanup() {
  local pid
  for pid in "$PROGRAM_PID" "$STARTER_PID"; do
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "setup"
"$ROOT/scripts/setup.sh"

step "build (preset default)"
cd "$ROOT"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target tallyport tallyport-ecrsim

step "demo folder $DEMO"
rm -rf "$DEMO"
mkdir -p "$DEMO"
# The program reads Tallyport.ini from its own folder, so the demo runs a copy of it there.
cp "$BUILD/tallyport" "$DEMO/tallyport"
if [[ -f "$BUILD/ManualECR.htm" ]]; then
  cp "$BUILD/ManualECR.htm" "$DEMO/"
fi

# The back office's article file: CodPLU,Dept,VATGroup,Price,Comma,Name with CR LF. Short PLU
# codes, EAN-13 and EAN-8 barcodes, and weighed articles stored under their scale code
# (prefix 24, the article's 5 digits, then 000000). "%%" is how the file writes a "%".
sed 's/$/\r/' >"$DEMO/PLU.txt" <<'ARTICLES'
0000000000001,01,1,2.5,3,PAINE ALB 500G
0000000000002,01,1,3.2,3,PAINE INTEGRAL
0000000000003,01,1,1.1,3,CORN CU CIOCOLATA
0000000000004,01,1,0.9,3,CHIFLA
0000000000010,02,1,4.75,3,LAPTE 1.5%% 1L
0000000000011,02,1,6.9,3,IAURT GRECESC
0000000000012,02,2,12.4,3,BRANZA TELEMEA
0000000000013,02,1,8.35,3,SMANTANA 20%%
0000000000020,03,1,5.5,3,APA MINERALA 2L
0000000000021,03,1,3.99,3,SUC PORTOCALE 0.5L
0000000000030,04,2,29.99,3,CAFEA MACINATA 250G
0000000000031,04,2,8.45,3,CEAI VERDE
0000000000040,05,1,0.5,3,PUNGA
0000000000123,01,1,2.5,3,Paine
5941234000017,06,1,7.99,3,Detergent vase 500ml
5941234000024,06,1,15.5,3,Sapun lichid
5941234000031,06,2,11.25,3,Pasta de dinti
5941234000048,07,1,19.9,3,Ulei floarea soarelui 1L
5941234000055,07,1,4.3,3,Faina alba 1kg
5941234000062,07,1,6.8,3,Zahar tos 1kg
5941234000079,07,2,9.15,3,Orez bob lung 1kg
5941234000086,08,3,24.99,3,Vin rosu sec 0.75L
5941234000093,08,3,5.6,3,Bere blonda 0.5L
5941234000109,09,1,3.45,3,Ciocolata cu lapte 100g
5941234000116,09,1,2.2,3,Biscuiti cu unt
5941234000123,09,1,13.7,3,Napolitane cu crema de alune 500g
0000059412347,09,1,1.5,3,Guma de mestecat
0000059412354,09,1,2.75,3,Bomboane mentolate
2400001000000,10,1,29.9,3,Piept de pui
2400002000000,10,1,24.5,3,Pulpe de pui
2400003000000,10,1,39.9,3,Ceafa de porc
2400004000000,11,1,6.99,3,Mere golden
2400005000000,11,1,4.49,3,Banane
2400006000000,11,1,8.9,3,Rosii
2400007000000,12,2,45,3,Cascaval
2400008000000,12,2,32.5,2,Salam de vara
2400009000000,13,1,3,1,Cartofi
2400010000000,13,1,2.4,3,Ceapa
ARTICLES

# Card payments from 1 to 150 are accepted; a receipt paid by several means carries its
# total only on its first closing line (RecAmount=0).
sed 's/$/\r/' >"$DEMO/Tallyport.ini" <<'CONFIG'
[Files]
PLU=PLU.txt
ReceiptMaster=Bon.txt
ReceiptDetail=Tran.txt
ECRList=ECRs.dat
[CardOptions]
Min=1
Max=150
[Scale]
Prefix=24
[Options]
RecDiscount=1
RecAmount=0
RecSepFiles=0
RecDecimals=0
CONFIG

MODE=(--headless)
if [[ -n "${DISPLAY:-}" ]]; then
  MODE=()
fi

step "trading for ${SECONDS_TO_TRADE} s: 3 registers, the program ${MODE[*]:-with its window}"
# The program starts once the simulator has written the register list that names its ports.
(
  for _ in $(seq 300); do
    if [[ -f "$DEMO/status" ]]; then
      cd "$DEMO"
      exec ./tallyport "${MODE[@]}" 2>>"$DEMO/tallyport.log"
    fi
    sleep 0.1
  done
  echo "demo: the simulator did not start" >&2
  exit 1
) &
STARTER_PID=$!
PROGRAM_PID=$STARTER_PID  # the starter becomes the program (exec)

set +e
"$BUILD/tallyport-ecrsim" --config "$DEMO/Tallyport.ini" --dir "$DEMO" --registers 3 \
  --seconds "$SECONDS_TO_TRADE" --seed "$SEED" --finish-receipts --verify \
  --status-file "$DEMO/status" | tee -i "$DEMO/ecrsim.log"
SIM_STATUS=${PIPESTATUS[0]}
set -e

step "stopping the program"
PROGRAM_STATUS=0
if kill -0 "$PROGRAM_PID" 2>/dev/null; then
  kill -TERM "$PROGRAM_PID"
  for _ in $(seq 200); do
    kill -0 "$PROGRAM_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$PROGRAM_PID" 2>/dev/null; then
    echo "demo: the program did not end within 20 s of SIGTERM" >&2
    PROGRAM_STATUS=1
  else
    wait "$PROGRAM_PID" || PROGRAM_STATUS=$?
  fi
else
  wait "$PROGRAM_PID" || PROGRAM_STATUS=$?
  echo "demo: the program had already ended (status $PROGRAM_STATUS)" >&2
  PROGRAM_STATUS=${PROGRAM_STATUS/#0/1}
fi
PROGRAM_PID=""
STARTER_PID=""
tail -n 5 "$DEMO/tallyport.log" 2>/dev/null || true

show() {
  local file=$1 title=$2
  if [[ -f "$file" ]]; then
    step "$title: $file ($(wc -l <"$file") lines, the last 12)"
    tail -n 12 "$file" | tr -d '\r'
  else
    step "$title: $file is missing"
  fi
}
show "$DEMO/Tran.txt" "transaction file"
show "$DEMO/Bon.txt" "receipt-closing file"

step "verification"
grep -E '^(verify |verification |!! )' "$DEMO/ecrsim.log" || true
if ((SIM_STATUS != 0)); then
  echo "demo: FAILED (simulator status $SIM_STATUS)" >&2
  exit 1
fi
if ((PROGRAM_STATUS != 0)); then
  echo "demo: FAILED (program status $PROGRAM_STATUS)" >&2
  exit 1
fi
echo "demo: passed; files and logs are in $DEMO"
