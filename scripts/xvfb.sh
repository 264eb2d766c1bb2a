#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server (inside the build root).
# Xvfb picks a free display itself (-displayfd), so parallel runs, even from other roots that
# share the abstract socket namespace, never collide.
set -euo pipefail
work=$(mktemp -d /tmp/xvfb.XXXXXX)
mkfifo "$work/fd"
# -noreset: by default the server resets whenever its last client leaves, and a client that
# connects during the reset is turned away; test programs come and go all the time.
Xvfb -displayfd 3 -noreset -screen 0 1920x1080x24 -nolisten tcp 3>"$work/fd" >"$work/log" 2>&1 &
xpid=$!
# Input the server had to drop (its event queue overflows when it is starved) explains a lost key;
# when the command fails, whatever else the server said may explain it too.
status=0
trap 'kill $xpid 2>/dev/null; wait $xpid 2>/dev/null || true
  if [ "$status" != 0 ]; then
    grep -v -i -e xkbcomp -e "^>" -e _XSERVTrans "$work/log" | tail -n 20 | sed "s/^/xvfb.sh: Xvfb said: /" >&2 || true
  else
    grep -i -e overflow -e discard "$work/log" | head -5 | sed "s/^/xvfb.sh: Xvfb said: /" >&2 || true
  fi
  rm -rf "$work"' EXIT
if ! read -r -t 30 display <"$work/fd"; then
  echo "xvfb.sh: Xvfb did not start:" >&2; cat "$work/log" >&2; exit 1
fi
export DISPLAY=":$display"
"$@" || status=$?
exit "$status"
