#!/usr/bin/env bash
# The package's own test: builds the package and an upgrade of it (a higher Debian revision),
# checks their contents, metadata and lintian, installs the package into an empty root,
# runs the installed program as the service against three simulated registers, checks the
# service's sandbox (its exposure rating, that its system-call filter allows every call the
# program makes while trading, and, where systemd runs this machine, a start of the unit),
# upgrades, removes and purges it, and checks at every step that the shop's files stay as
# they were.
# Needs root (dpkg --root); runs no network and touches nothing of the host's packages.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() {
  echo "package-check: FAILED: $*" >&2
  exit 1
}
step() { printf '\n== %s\n' "$*"; }

WORK=$(mktemp -d /tmp/tallyport-package.XXXXXX)
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

step "build the package and its upgrade"
TALLYPORT_SETUP_LINTIAN=1 TALLYPORT_SETUP_PACKAGING=1 ./scripts/setup.sh
DEB2=$(TALLYPORT_PACKAGE_RELEASE=2 ./scripts/package.sh | tail -n 1)
DEB1=$(TALLYPORT_PACKAGE_RELEASE=1 ./scripts/package.sh | tail -n 1)
echo "$DEB1"
echo "$DEB2"

step "metadata"
dpkg-deb -I "$DEB1"
VERSION=$(dpkg-deb -f "$DEB1" Version)
[[ "$VERSION" == *-1 ]] || fail "version $VERSION does not end in revision 1"
[[ "$(dpkg-deb -f "$DEB2" Version)" == "${VERSION%-1}-2" ]] || fail "the upgrade is not ${VERSION%-1}-2"
DEPENDS=$(dpkg-deb -f "$DEB1" Depends)
for dependency in libc6 libstdc++6 libqt6core6 libqt6widgets6 adduser; do
  grep -q "\b$dependency\b" <<<"$DEPENDS" || fail "Depends lacks $dependency: $DEPENDS"
done

step "contents"
dpkg-deb -c "$DEB1" | tee "$WORK/contents"
# Every regular file the package holds, and nothing else.
awk '$1 ~ /^-/ { print $6 }' "$WORK/contents" | sort >"$WORK/files"
sort >"$WORK/expected" <<'FILES'
./usr/lib/systemd/system/tallyport.service
./usr/lib/udev/rules.d/70-tallyport-serial-adapters.rules
./usr/lib/modules-load.d/tallyport.conf
./usr/bin/tallyport
./usr/bin/tallyport-ecrsim
./usr/lib/sysusers.d/tallyport.conf
./usr/share/applications/tallyport.desktop
./usr/share/doc/tallyport/changelog.Debian.gz
./usr/share/doc/tallyport/copyright
./usr/share/icons/hicolor/scalable/apps/tallyport.svg
./usr/share/man/man1/tallyport-ecrsim.1.gz
./usr/share/man/man1/tallyport.1.gz
./usr/share/tallyport/ManualECR.htm
./usr/share/tallyport/autostart/tallyport.desktop
FILES
diff -u "$WORK/expected" "$WORK/files" || fail "the package's files differ from the list"
# Owned by root, and no file of the shop: nothing under /var or /etc.
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$WORK/contents" ||
  fail "files not owned by root"
! grep -E ' \./(var|etc)/' "$WORK/contents" || fail "the package holds files under /var or /etc"
grep -q 'Tallyport versiunea '"${VERSION%-1}" <(dpkg-deb --fsys-tarfile "$DEB1" |
  tar -xO ./usr/share/tallyport/ManualECR.htm) || fail "the manual does not carry the version"

step "lintian"
lintian --fail-on error "$DEB1" | tee "$WORK/lintian" || fail "lintian found errors"

step "install into an empty root"
ROOT="$WORK/root"
mkdir -p "$ROOT/var/lib/dpkg/info" "$ROOT/var/lib/dpkg/updates" "$ROOT/etc"
touch "$ROOT/var/lib/dpkg/status"
# The service's group for the serial ports exists on every Debian system.
grep '^dialout:' /etc/group >"$ROOT/etc/group"
: >"$ROOT/etc/passwd"
# No chroot: the maintainer scripts run here with DPKG_ROOT set, and must stay inside it.
DPKG=(dpkg --root="$ROOT" --force-depends --force-script-chrootless)
"${DPKG[@]}" -i "$DEB1"
[[ -x "$ROOT/usr/bin/tallyport" ]] || fail "the program is not installed"
grep -q '^tallyport:' "$ROOT/etc/passwd" || fail "no system user tallyport"
grep -Eq '^dialout:.*[:,]tallyport(,|$)' "$ROOT/etc/group" || fail "tallyport is not in dialout"
! grep -q '^tallyport:' /etc/passwd || echo "(the host has a user tallyport of its own)"
"$ROOT/usr/bin/tallyport" --version | grep -qx "Tallyport versiunea ${VERSION%-1}" ||
  fail "--version"
"$ROOT/usr/bin/tallyport" --help | grep -q -- '--config' || fail "--help"

# Sends SIGTERM and waits at most 30 s for the program to end; its exit status, or 124 when it
# had to be killed.
stop_program() {
  local pid=$1 status=0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    return 124
  fi
  wait "$pid" || status=$?
  return "$status"
}

# The installed program, started as systemd starts the service (its state folder in
# STATE_DIRECTORY), until it says whether it is connected; then stopped in order.
run_until_settled() {
  local log=$1
  shift
  env "$@" "$ROOT/usr/bin/tallyport" --headless 2>"$log" &
  local pid=$!
  PIDS+=("$pid")
  for _ in $(seq 300); do
    grep -q 'sunt conectate' "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  local status=0
  stop_program "$pid" || status=$?
  cat "$log"
  ((status == 0)) || fail "the program ended with status $status"
}

STATE="$ROOT/var/lib/tallyport"
mkdir -p "$STATE"
step "first start as the service: $STATE"
run_until_settled "$WORK/first.log" STATE_DIRECTORY="$STATE"
for file in Tallyport.ini ECRs.dat PLU.txt; do
  [[ -f "$STATE/$file" ]] || fail "the first start did not make $file"
done
grep -q "configurare: $STATE/Tallyport.ini" "$WORK/first.log" || fail "not the service's folder"

step "first start for a user: $WORK/data/Tallyport"
run_until_settled "$WORK/user.log" -u STATE_DIRECTORY XDG_DATA_HOME="$WORK/data"
[[ -f "$WORK/data/Tallyport/ECRs.dat" ]] || fail "the user's folder was not made"

step "the service trades with three simulated registers"
sed 's/$/\r/' >"$STATE/PLU.txt" <<'ARTICLES'
0000000000001,01,1,2.5,3,PAINE ALB 500G
0000000000002,01,1,3.2,3,PAINE INTEGRAL
0000000000010,02,1,4.75,3,LAPTE 1.5%% 1L
0000000000030,04,2,29.99,3,CAFEA MACINATA 250G
5941234000017,06,1,7.99,3,Detergent vase 500ml
5941234000024,06,1,15.5,3,Sapun lichid
2400001000000,10,1,29.9,3,Piept de pui
2400005000000,11,1,4.49,3,Banane
ARTICLES
(
  for _ in $(seq 300); do
    if [[ -f "$WORK/status" ]]; then
      cd /
      exec env STATE_DIRECTORY="$STATE" "$ROOT/usr/bin/tallyport" --headless 2>"$WORK/shop.log"
    fi
    sleep 0.1
  done
  exit 1
) &
PROGRAM=$!
PIDS+=("$PROGRAM")
SIM_STATUS=0
"$ROOT/usr/bin/tallyport-ecrsim" --config "$STATE/Tallyport.ini" --dir "$STATE" --registers 3 \
  --seconds 8 --finish-receipts --verify --quiet --status-file "$WORK/status" ||
  SIM_STATUS=$?
PROGRAM_STATUS=0
stop_program "$PROGRAM" || PROGRAM_STATUS=$?
tail -n 5 "$WORK/shop.log"
((SIM_STATUS == 0)) || fail "the simulator's check failed (status $SIM_STATUS)"
((PROGRAM_STATUS == 0)) || fail "the service ended with status $PROGRAM_STATUS"
[[ -s "$STATE/Tran.txt" && -s "$STATE/Bon.txt" ]] || fail "no back-office files in $STATE"

UNIT="$ROOT/usr/lib/systemd/system/tallyport.service"
step "the service's sandbox: exposure rating"
# 2.0 at most ("--threshold" counts in tenths).
systemd-analyze security --offline=true --no-pager "$UNIT" | tail -n 1
systemd-analyze security --offline=true --threshold=20 "$UNIT" >/dev/null ||
  fail "the unit's exposure is above 2.0"

# The system calls a SystemCallFilter= list allows, applied line by line as systemd does when
# the first line is an allow list: "~" lines take groups or calls away, others add them.
allowed_calls() {
  local unit=$1 line names
  expand() {
    local item
    for item in "$@"; do
      if [[ $item == @* ]]; then
        expand $(systemd-analyze syscall-filter --no-pager "$item" |
          sed -e 's/#.*//' -e 's/^ *//' | grep -v -e '^$' -e "^$item\$")
      else
        echo "$item"
      fi
    done
  }
  : >"$WORK/allowed"
  while IFS= read -r line; do
    names=${line#SystemCallFilter=}
    if [[ $names == "~"* ]]; then
      expand ${names#"~"} | sort -u >"$WORK/taken"
      sort -u "$WORK/allowed" | comm -23 - "$WORK/taken" >"$WORK/kept"
      mv "$WORK/kept" "$WORK/allowed"
    else
      expand $names >>"$WORK/allowed"
    fi
  done < <(grep '^SystemCallFilter=' "$unit")
  sort -u "$WORK/allowed"
}

step "the service's sandbox: its system-call filter allows what the program does"
# The service trades with two simulated registers under strace while the back office rewrites
# the article file; every system call it makes must be one that the unit's filter allows.
allowed_calls "$UNIT" >"$WORK/allowed.sorted"
[[ -s "$WORK/allowed.sorted" ]] || fail "no SystemCallFilter= in the unit"
rm -f "$WORK/status"
(
  for _ in $(seq 300); do
    if [[ -f "$WORK/status" ]]; then
      cd /
      exec strace -f -qq -c -o "$WORK/calls" env STATE_DIRECTORY="$STATE" \
        "$ROOT/usr/bin/tallyport" --headless 2>"$WORK/traced.log"
    fi
    sleep 0.1
  done
  exit 1
) &
PROGRAM=$!
PIDS+=("$PROGRAM")
(
  sleep 3
  sed 's/,2.5,/,2.6,/' "$STATE/PLU.txt" >"$STATE/PLU.new" && mv "$STATE/PLU.new" "$STATE/PLU.txt"
) &
"$ROOT/usr/bin/tallyport-ecrsim" --config "$STATE/Tallyport.ini" --dir "$STATE" --registers 2 \
  --seconds 6 --finish-receipts --quiet --status-file "$WORK/status" >/dev/null || true
# The program is strace's child: it gets the stop signal, strace ends with its status.
TRACED=$(pgrep -P "$PROGRAM" | head -n 1 || true)
[[ -n "$TRACED" ]] || fail "the traced service is not running"
kill -TERM "$TRACED"
for _ in $(seq 300); do
  kill -0 "$PROGRAM" 2>/dev/null || break
  sleep 0.1
done
PROGRAM_STATUS=0
wait "$PROGRAM" || PROGRAM_STATUS=$?
((PROGRAM_STATUS == 0)) || fail "the traced service ended with status $PROGRAM_STATUS"
grep -q 'sunt conectate' "$WORK/traced.log" || fail "the traced service did not connect"
# strace -c: a table whose last column is the call's name, between two rules.
awk '/^-+/ { rule++; next } rule == 1 { print $NF }' "$WORK/calls" | sort -u >"$WORK/made"
# execve is strace's own start of the program, before any filter would apply.
grep -v -x -e execve "$WORK/made" | comm -23 - "$WORK/allowed.sorted" >"$WORK/refused" || true
echo "system calls made: $(wc -l <"$WORK/made"), of which the filter refuses: $(wc -l <"$WORK/refused")"
[[ ! -s "$WORK/refused" ]] || fail "the unit's filter refuses: $(tr '\n' ' ' <"$WORK/refused")"
grep -q -x setpriority "$WORK/made" || fail "the threads did not lower their priority"

step "the udev rule for the serial adapters"
RULE="$ROOT/usr/lib/udev/rules.d/70-tallyport-serial-adapters.rules"
for vendor in 0403 1a86 067b 10c4; do
  grep -q "ATTRS{idVendor}==\"$vendor\",.*ENV{ID_MM_DEVICE_IGNORE}=\"1\"" "$RULE" ||
    fail "the rule does not cover the adapters of vendor $vendor"
done
if command -v udevadm >/dev/null && [[ -e /sys/class/tty/ttyS0 ]]; then
  # udevadm test reads every rule; it writes into /run and /dev, so both are private here.
  unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs tmpfs /run &&
    mount -t tmpfs tmpfs /dev && mkdir -p /run/udev/rules.d && cp "$1" /run/udev/rules.d/ &&
    udevadm test --action=add /sys/class/tty/ttyS0' sh "$RULE" >"$WORK/udev.log" 2>&1 ||
    fail "udevadm test failed: $(tail -n 3 "$WORK/udev.log")"
  ! grep -i -E 'tallyport.*(invalid|error|ignoring)' "$WORK/udev.log" ||
    fail "udevadm does not read the rule"
else
  echo "(no udevadm here: the rule's syntax is not read by udev)"
fi

step "the service's sandbox: a start under systemd"
if [[ -d /run/systemd/system ]]; then
  # A copy of the unit under another name, with a user of its own and the installed program
  # (copied out of /tmp, which the unit's PrivateTmp= hides); it starts with an empty register
  # list, so it writes its first files and its status, and its article loader lowers its
  # priority.
  NAME="tallyport-check-$$"
  BIN="/var/lib/$NAME-program"
  mkdir -p "$BIN"
  cp "$ROOT/usr/bin/tallyport" "$BIN/"
  sed -e "s|^ExecStart=.*|ExecStart=$BIN/tallyport --headless|" -e 's|^User=.*|DynamicUser=yes|' \
    -e '/^Group=/d' -e "s|^StateDirectory=.*|StateDirectory=$NAME|" \
    -e "s|^RuntimeDirectory=.*|RuntimeDirectory=$NAME|" -e 's|^Restart=.*|Restart=no|' \
    "$UNIT" >"/run/systemd/system/$NAME.service"
  cleanup_unit() {
    systemctl stop "$NAME.service" 2>/dev/null || true
    rm -f "/run/systemd/system/$NAME.service"
    systemctl daemon-reload || true
    rm -rf "$BIN" "/var/lib/private/$NAME" "/var/lib/$NAME"
  }
  systemctl daemon-reload
  systemctl start "$NAME.service" || { cleanup_unit; fail "the unit does not start"; }
  started=0
  for _ in $(seq 100); do
    if ls "/run/$NAME"/status-*.json >/dev/null 2>&1; then
      started=1
      break
    fi
    sleep 0.1
  done
  journalctl -u "$NAME.service" --no-pager -o cat | tail -n 5 || true
  systemctl stop "$NAME.service"
  result=$(systemctl show -p Result --value "$NAME.service")
  cleanup_unit
  ((started)) || fail "the sandboxed service wrote no status file"
  [[ "$result" == success ]] || fail "the sandboxed service ended with: $result"
else
  echo "(systemd does not run this machine: the unit is rated and its filter checked, not started)"
fi

step "upgrade to $(basename "$DEB2"), remove, purge: the shop's files stay"
# Every file of the shop's, the journal's folder included.
(cd "$STATE" && find . -type f -print0 | sort -z | xargs -0 sha256sum --) >"$WORK/shop.sums"
cat "$WORK/shop.sums"
"${DPKG[@]}" -i "$DEB2"
[[ "$(dpkg-query --admindir="$ROOT/var/lib/dpkg" -W -f='${Version}' tallyport)" == "${VERSION%-1}-2" ]] ||
  fail "the upgrade is not installed"
(cd "$STATE" && sha256sum --quiet -c "$WORK/shop.sums") || fail "the upgrade changed the shop's files"
"${DPKG[@]}" -r tallyport
[[ ! -e "$ROOT/usr/bin/tallyport" ]] || fail "the removal left the program"
(cd "$STATE" && sha256sum --quiet -c "$WORK/shop.sums") || fail "the removal changed the shop's files"
"${DPKG[@]}" -P tallyport | tee "$WORK/purge.log"
grep -q "The shop's files are kept" "$WORK/purge.log" || fail "the purge does not say what it leaves"
(cd "$STATE" && sha256sum --quiet -c "$WORK/shop.sums") || fail "the purge changed the shop's files"
[[ -f "$WORK/data/Tallyport/Tallyport.ini" ]] || fail "the purge removed a user's files"

step "package checks passed"
