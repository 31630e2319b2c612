#!/usr/bin/env bash
# Installs what is missing, builds and runs the tests.
#
#   ./scripts/test.sh          the release build with every Linux suite (CTest; the long
#                              end-to-end suites with the lines served in turn), then the demo,
#                              shortened, which fails when the back-office files do not verify
#   ./scripts/test.sh --full   all of the above, then
#                              - the long end-to-end suites with the lines served in parallel,
#                              - the rest of the release build (the benchmarks),
#                              - the core suites under AddressSanitizer+UBSan and ThreadSanitizer,
#                              - each fuzz target for a bounded time on its seed corpus,
#                              - the Debian package: contents, metadata, lintian, installed into
#                                an empty root and run as the service against simulated
#                                registers, upgraded, removed and purged,
#                              - the Windows stage (scripts/test-windows.sh): the cross build, its
#                                suites under Wine, tallyport.exe against simulated registers
#                                through COM ports, the installer.
# Prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

FULL=0
for argument in "$@"; do
  case "$argument" in
    --full) FULL=1 ;;
    *)
      echo "usage: $0 [--full]" >&2
      exit 2
      ;;
  esac
done

JOBS=$(nproc)
FUZZ_SECONDS=${TALLYPORT_FUZZ_SECONDS:-40}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

TIMES=()
STAGE=""
STAGE_START=$SECONDS
stage() {
  if [[ -n "$STAGE" ]]; then
    TIMES+=("$(printf '%5d s  %s' $((SECONDS - STAGE_START)) "$STAGE")")
  fi
  STAGE=$1
  STAGE_START=$SECONDS
  printf '\n==== %s ====\n' "$STAGE"
}
finish() {
  stage "all tests passed"
  printf '%s\n' "${TIMES[@]}"
  printf '%5d s  in all\n' "$SECONDS"
}

stage "setup"
./scripts/setup.sh

stage "build and test (release)"
cmake --preset default >/dev/null
# The suites and the programs they start; the benchmarks are built by --full.
cmake --build --preset default -j "$JOBS" --target tallyport-suites
ctest --preset default -j "$JOBS" -LE parallel-lines

stage "demo (shortened, verified)"
TALLYPORT_DEMO_SECONDS=${TALLYPORT_DEMO_SECONDS:-8} ./scripts/demo.sh

if ((FULL == 0)); then
  finish
  exit 0
fi

stage "the long end-to-end suites with the lines served in parallel"
ctest --preset default -j "$JOBS" -L parallel-lines

stage "the rest of the release build (benchmarks)"
cmake --build --preset default -j "$JOBS"

# The long timed end-to-end halves stay out: a sanitizer's slowness is not the line's. The
# lines served in parallel still run under both (the link's and the control's suites).
for san in asan tsan; do
  stage "core suites under $san"
  cmake --preset "$san" >/dev/null
  cmake --build --preset "$san" -j "$JOBS"
  ctest --preset "$san" -j "$JOBS" -L core -LE parallel-lines
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

stage "Debian package"
./scripts/package-check.sh

stage "Windows (cross build, Wine, installer)"
./scripts/test-windows.sh

finish
