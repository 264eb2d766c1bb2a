#!/usr/bin/env bash
# End-to-end tests: the real OBS Studio under Xvfb with this build of Quillmar, driven by
# obs-websocket (obs-websocket-js under Node) and xdotool. Usage: scripts/e2e.sh [test files...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh "${QUILLMAR_BUILD_DIR:-build}"
scripts/root.sh run bash -c '
  set -e
  # A build without the tests (the newest OBS) still gets the crash tracer that the harness preloads.
  trace=${QUILLMAR_BUILD_DIR:-build}/e2e-crash-trace.so
  [ -f "$trace" ] || cc -shared -fPIC -O2 -o "$trace" tests/e2e/lib/crash_trace.c
  cd tests/e2e
  [ -d node_modules/obs-websocket-js ] && [ node_modules/.package-lock.json -nt package-lock.json ] \
    || npm ci --no-audit --no-fund --loglevel=error
  cd ../..
  files=("$@"); [ ${#files[@]} -gt 0 ] || files=(tests/e2e/*.test.mjs)
  scripts/xvfb.sh node --test --test-concurrency=1 "${files[@]}"
' bash "$@"
