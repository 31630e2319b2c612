#!/usr/bin/env bash
# Builds the Windows installer from the cross build (preset windows) with NSIS through CPack:
#   build-windows/packages/tallyport-<version>-win64.exe
# It installs tallyport-desktop.exe, tallyport.exe and the manual in Program Files with a Start-menu folder, and starts
# the program by hand (the default), at log-in or as the Windows service; /S installs silently
# (packaging/windows/NSIS.template.in lists its options). Prints the installer's path on its
# last line.
set -euo pipefail
cd "$(dirname "$0")/.."

TALLYPORT_SETUP_WINDOWS=1 ./scripts/setup.sh
cmake --preset windows >/dev/null
# The programs and the manual only: the installer holds nothing else.
cmake --build --preset windows -j "$(nproc)" --target tallyport_desktop tallyport_console
(cd build-windows && cpack -G NSIS >/dev/null)

# The version as project() gave it to CPack.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build-windows/CPackConfig.cmake)
installer="build-windows/packages/tallyport-${version}-win64.exe"
if [[ ! -f "$installer" ]]; then
  echo "package-windows: $installer was not made" >&2
  exit 1
fi
echo "$PWD/$installer"
