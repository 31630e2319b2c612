#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test suite:
#   1. the release build with all tests (CTest),
#   2. the core suites again under AddressSanitizer+UBSan and under ThreadSanitizer,
#   3. each fuzz target for a bounded time on its seed corpus,
#   4. the demo, shortened, which fails when the back-office files do not verify,
#   5. the Debian package: contents, metadata, lintian, installed into an empty root and run
#      as the service against simulated registers, upgraded, removed and purged.
# Set TALLYPORT_TEST_QUICK=1 to run only stage 1.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=$(nproc)
FUZZ_SECONDS=${TALLYPORT_FUZZ_SECONDS:-60}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

stage() { printf '\n==== %s ====\n' "$*"; }

stage "setup"
./scripts/setup.sh

stage "build and test (release)"
cmake --preset default >/dev/null
cmake --build --preset default -j "$JOBS"
ctest --preset default -j "$JOBS"

if [[ "${TALLYPORT_TEST_QUICK:-0}" == 1 ]]; then
  exit 0
fi

for san in asan tsan; do
  stage "core suites under $san"
  cmake --preset "$san" >/dev/null
  cmake --build --preset "$san" -j "$JOBS"
  ctest --preset "$san" -j "$JOBS" -L core
done

if compgen -G "fuzz/*.cpp" >/dev/null; then
  stage "fuzz targets (${FUZZ_SECONDS}s each)"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$JOBS"
  for corpus in fuzz/corpus/*/; do
    [[ -d "$corpus" ]] || continue
    target=$(basename "$corpus")
    work=$(mktemp -d)
    cp -r "$corpus". "$work"/
    "./build-fuzz/fuzz-$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=0 "$work" \
      2>&1 | tail -n 3
    rm -rf "$work"
  done
fi

if [[ -x scripts/demo.sh ]]; then
  stage "demo (shortened, verified)"
  TALLYPORT_DEMO_SECONDS=${TALLYPORT_DEMO_SECONDS:-8} ./scripts/demo.sh
fi

stage "Debian package"
./scripts/package-check.sh

stage "all tests passed"
