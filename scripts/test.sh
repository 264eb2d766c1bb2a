#!/usr/bin/env bash
# Sets up the build root if needed, builds, and runs every layer of tests inside it:
# unit and integration tests, the same under AddressSanitizer and UBSan, the fuzz targets
# for a short while, the end-to-end tests against the real OBS Studio, the packages installed as a
# user would, and the end-to-end tests again against the newest OBS Studio (Debian testing).
# Usage: scripts/test.sh [--quick]   (--quick: unit and integration tests only)
# QUILLMAR_NEWEST_OBS=0 leaves the newest OBS Studio out.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0; [ "${1:-}" = --quick ] && quick=1
newest=${QUILLMAR_NEWEST_OBS:-1}; [ $quick = 1 ] && newest=0
start=$(date +%s)
stamp() { echo "== $* ($(( $(date +%s) - start )) s)"; }

stamp "build root"
scripts/root.sh ensure >/dev/null
# The newest OBS Studio's root is mostly a download: it is made while the tests below run. In a
# session of its own, so that a run that stops early stops it too.
testing_root= testing_build=
if [ "$newest" = 1 ]; then
  mkdir -p out
  QUILLMAR_SUITE=testing setsid -w scripts/root.sh ensure >out/testing-root.log 2>&1 &
  testing_root=$!
  trap 'for job in $testing_root $testing_build; do kill -- -"$job" 2>/dev/null || true; done' EXIT
fi
stamp "build"
scripts/build.sh build
stamp "unit and integration tests"
scripts/root.sh run scripts/xvfb.sh ctest --test-dir build --output-on-failure -j2
[ $quick = 1 ] && { stamp "done"; exit 0; }

stamp "sanitizer build"
scripts/build.sh build-asan -DQUILLMAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
stamp "unit and integration tests under ASan and UBSan"
scripts/root.sh run env ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  scripts/xvfb.sh ctest --test-dir build-asan --output-on-failure -j2

# The newest OBS Studio: Debian testing, its own root. If that suite cannot be installed today,
# root.sh names the package and the run fails. The plug-in is built there while the fuzzers run,
# each of which keeps one core busy for a fixed time.
if [ "$newest" = 1 ]; then
  stamp "the newest OBS Studio: Debian testing root"
  wait "$testing_root" || { cat out/testing-root.log >&2
    echo "the Debian testing root for the newest OBS Studio could not be made (see above);" \
      "QUILLMAR_NEWEST_OBS=0 runs without it" >&2; exit 1; }
  testing_root=
  QUILLMAR_SUITE=testing setsid -w scripts/build.sh build-testing -DQUILLMAR_TESTS=OFF >out/build-testing.log 2>&1 &
  testing_build=$!
fi

if [ -x scripts/fuzz.sh ]; then
  stamp "fuzz targets, briefly"
  QUILLMAR_FUZZ_SECONDS=${QUILLMAR_FUZZ_SECONDS:-60} scripts/fuzz.sh all
fi

stamp "end-to-end tests in the real OBS Studio"
scripts/e2e.sh

stamp "packages, installed as a user would, against OBS Studio"
scripts/install-test.sh

if [ "$newest" = 1 ]; then
  stamp "the newest OBS Studio: build, warnings reported"
  wait "$testing_build" || { cat out/build-testing.log; echo "the build against the newest OBS Studio failed" >&2; exit 1; }
  testing_build=
  grep -A4 'warning:' out/build-testing.log || true
  echo "compiler warnings against the newest OBS Studio: $(grep -c 'warning:' out/build-testing.log || true)"
  stamp "the newest OBS Studio: end-to-end tests"
  QUILLMAR_SUITE=testing QUILLMAR_BUILD_DIR=build-testing scripts/e2e.sh
elif [ $quick = 0 ]; then
  stamp "the newest OBS Studio: left out (QUILLMAR_NEWEST_OBS=0)"
fi
stamp "done"
