#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server (inside the build root).
set -euo pipefail
for n in $(seq 90 140); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=$n; break; }
done
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/tmp/xvfb-$display.log 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null; wait $xpid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.05; done
export DISPLAY=":$display"
"$@"
