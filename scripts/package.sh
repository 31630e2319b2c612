#!/usr/bin/env bash
# Builds the Debian package from the default build (prefix /usr):
#   build/packages/tallyport_<version>-<revision>_<arch>.deb
# TALLYPORT_PACKAGE_RELEASE sets the Debian revision (default 1); raise it to build an upgrade
# of the same version. Prints the path of the package on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

RELEASE=${TALLYPORT_PACKAGE_RELEASE:-1}

TALLYPORT_SETUP_PACKAGING=1 ./scripts/setup.sh
cmake --preset default -DTALLYPORT_PACKAGE_RELEASE="$RELEASE" >/dev/null
cmake --build --preset default -j "$(nproc)" \
  --target tallyport tallyport-ecrsim tallyport-package-files
cpack --preset package >/dev/null

# The version as project() gave it to CPack.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/CPackConfig.cmake)
deb="build/packages/tallyport_${version}-${RELEASE}_$(dpkg --print-architecture).deb"
if [[ ! -f "$deb" ]]; then
  echo "package: $deb was not made" >&2
  exit 1
fi
echo "$PWD/$deb"
