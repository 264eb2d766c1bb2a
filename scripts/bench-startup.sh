#!/usr/bin/env bash
# What Quillmar costs OBS Studio at start-up, on OBS 30 (Debian 13) and on the newest OBS
# (Debian testing). Usage: scripts/bench-startup.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
for suite in trixie testing; do
  dir=build; [ $suite = trixie ] || dir=build-$suite
  echo "== $suite"
  QUILLMAR_SUITE=$suite QUILLMAR_TARGET=quillmar scripts/build.sh "$dir" >/dev/null
  QUILLMAR_SUITE=$suite QUILLMAR_BUILD_DIR=$dir scripts/root.sh run scripts/xvfb.sh node bench/startup.mjs "${1:-5}"
done
