#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config make
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
  clang libclang-rt-14-dev clang-format
  locales
)
# Tools for looking at the window under a virtual display; installed on request.
if [[ "${TALLYPORT_SETUP_SCREENSHOTS:-0}" == 1 ]]; then
  PACKAGES+=(xvfb xauth trayer imagemagick x11-apps xdotool)
fi

# The Windows build: the MinGW-w64 cross compiler, Wine to run its programs and tests, NSIS for
# the installer, GoogleTest's sources to build it for the target; Xvfb and ImageMagick for the
# screenshots of the Windows window; Python for the console that types Ctrl+C
# (scripts/pty-console.py). Installed on request (scripts/test.sh --full asks).
if [[ "${TALLYPORT_SETUP_WINDOWS:-0}" == 1 ]]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix wine64 nsis googletest xvfb imagemagick python3)
fi

# What building the Debian package needs (scripts/package.sh), and its check (lintian; strace
# lists the system calls the service makes, for its unit's filter).
if [[ "${TALLYPORT_SETUP_PACKAGING:-0}" == 1 ]]; then
  PACKAGES+=(dpkg-dev file strace)
fi
if [[ "${TALLYPORT_SETUP_LINTIAN:-0}" == 1 ]]; then
  PACKAGES+=(lintian)
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

ensure_locale() {
  # The Romanian shop locale (decimal comma) is used by the tests of number handling.
  if ! locale -a 2>/dev/null | grep -qi '^ro_RO\.utf-\?8$'; then
    "${SUDO[@]}" localedef -i ro_RO -f UTF-8 ro_RO.UTF-8 >/dev/null 2>&1 || true
  fi
}

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi

if ((${#missing[@]} == 0)); then
  ensure_locale
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ensure_locale
