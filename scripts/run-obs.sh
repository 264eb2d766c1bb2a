#!/usr/bin/env bash
# Sets up the build root if needed, builds Quillmar, and starts OBS Studio 30 with it loaded,
# in a lasting OBS home at out/obs-home (notes and scenes survive restarts). With a DISPLAY,
# OBS opens there; without one it runs under Xvfb. Either way the dock is shown and a
# screenshot is written to out/quillmar-obs.png. QUILLMAR_RUN_SECONDS=N stops OBS after N s.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/root.sh ensure >/dev/null
scripts/build.sh build
mkdir -p out
inner='scripts/e2e.sh --node-modules && '
if [ -n "${DISPLAY:-}" ] && [ -d /tmp/.X11-unix ]; then
  # Share the host's X server with the root.
  [ -n "${XAUTHORITY:-}${HOME:-}" ] && cp -f "${XAUTHORITY:-$HOME/.Xauthority}" out/.Xauthority 2>/dev/null || true
  QUILLMAR_EXTRA_BIND=/tmp/.X11-unix QUILLMAR_DISPLAY="$DISPLAY" exec scripts/root.sh run bash -c \
    "export DISPLAY=\$QUILLMAR_DISPLAY; [ -f out/.Xauthority ] && export XAUTHORITY=\$PWD/out/.Xauthority; $inner node tests/e2e/run-obs.mjs"
else
  exec scripts/root.sh run bash -c "$inner scripts/xvfb.sh node tests/e2e/run-obs.mjs"
fi
