#!/usr/bin/env bash
# Wine environment for the Windows tests and the run command.
#   wine-env.sh start DIR      create the prefix once (reused), start Xvfb and a wineserver
#   wine-env.sh run DIR EXE..  run a Windows program in that environment, passing its exit code
#   wine-env.sh stop DIR       stop that wineserver and that Xvfb (by its PID)
# Everything lives under DIR: prefix/, home/ (Wine maps Pictures onto HOME), display, xvfb.pid.
set -euo pipefail

action=$1
dir=$(realpath -m "$2")
shift 2

wine_tool() {
  local name=$1
  if command -v "$name" >/dev/null 2>&1; then command -v "$name"; else echo "/usr/lib/wine/$name"; fi
}
WINE=$(wine_tool wine64)
WINESERVER=$(wine_tool wineserver)

export WINEPREFIX="$dir/prefix"
export HOME="$dir/home"
export WINEDEBUG=-all
# A crash must end the program at once, not wait in the automatic debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64
mkdir -p "$HOME"

start_display() {
  if [ -f "$dir/xvfb.pid" ] && kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null; then
    return
  fi
  rm -f "$dir/display"
  # -displayfd lets Xvfb pick a free display number and tell us which.
  setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp \
    3>"$dir/display" >"$dir/xvfb.log" 2>&1 </dev/null &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    sleep 0.1
  done
  [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
}

use_display() {
  [ -s "$dir/display" ] || { echo "no display: run '$0 start $dir' first" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$dir/display")"
}

create_prefix() {
  [ -f "$WINEPREFIX/.snaplark-ready" ] && return
  rm -rf "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1
  # Without a window manager, unmanaged windows get no keyboard focus and every
  # close waits about 2 s; managed-off mode fixes both.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$WINESERVER" -w
  touch "$WINEPREFIX/.snaplark-ready"
}

case "$action" in
  start)
    mkdir -p "$dir"
    start_display
    use_display
    create_prefix
    setsid "$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
    # Start the prefix's services now, detached, so no test has to wait for them.
    "$WINE" wineboot >/dev/null 2>&1 </dev/null || true
    echo "Wine ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
    ;;
  run)
    use_display
    # Wine's service processes outlive the program and inherit its output; send
    # that to a file so that a caller reading a pipe (ctest) sees it close.
    log=$(mktemp "$dir/run.XXXXXX")
    status=0
    "$WINE" "$@" >"$log" 2>&1 </dev/null || status=$?
    cat "$log"
    rm -f "$log"
    exit "$status"
    ;;
  stop)
    "$WINESERVER" -k 2>/dev/null || true
    if [ -f "$dir/xvfb.pid" ]; then
      kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
      rm -f "$dir/xvfb.pid" "$dir/display"
    fi
    ;;
  *)
    echo "usage: $0 start|run|stop DIR [EXE ARGS...]" >&2
    exit 2
    ;;
esac
