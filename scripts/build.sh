#!/usr/bin/env bash
# Configures and builds inside the build root. Usage: scripts/build.sh [BUILD_DIR] [cmake -D options...]
# Warnings fail the build in the Debian 13 root (OBS 30) only; in other suites they are reported.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}; shift || true
werror=OFF; [ "${QUILLMAR_SUITE:-trixie}" = trixie ] && werror=ON
exec scripts/root.sh run bash -c 'dir=$1; shift; launcher=(); command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache); cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null && cmake --build "$dir" -j "${QUILLMAR_JOBS:-2}" ${QUILLMAR_TARGET:+--target $QUILLMAR_TARGET}' bash "$dir" -DQUILLMAR_WERROR=$werror "$@"
