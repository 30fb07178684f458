#!/usr/bin/env bash
# Wine environment for the Windows tests and the run command.
#   wine-env.sh start DIR [PROBE]  create the prefix once (reused), start Xvfb and a wineserver;
#                                  with PROBE, a tiny program of a 32-bit tree, also find out
#                                  whether this machine can run 32-bit programs (see probe)
#   wine-env.sh probe DIR PROBE    run PROBE and record the answer in DIR; prints it
#   wine-env.sh run DIR EXE..      run a Windows program in that environment, passing its exit
#                                  code; exits 77 (a skip) without running it when the probe
#                                  found that this machine cannot run 32-bit programs
#   wine-env.sh stop DIR           stop that wineserver and that Xvfb (by its PID)
# Everything lives under DIR: prefix/, home/ (Wine maps Pictures onto HOME), display, xvfb.pid,
# and no-32-bit (the probe's reason, present only when 32-bit programs cannot run here).
#
# SNAPLARK_ASSUME_NO_32BIT=1 makes the probe answer "cannot" without trying, so that the
# skip path can be tried on a machine that runs 32-bit programs; nothing of ours sets it.
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
# Wine's own 32-bit loader, an i386 Linux program; wine64 hands 32-bit programs to it.
WINE32_LOADER=$(dirname "$WINE")/wine
SKIP_CODE=77

export WINEPREFIX="$dir/prefix"
export HOME="$dir/home"
export WINEDEBUG=-all
# A crash must end the program at once, not wait in the automatic debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64
mkdir -p "$HOME"
# Wine asks Xlib for X resources at every paint; while the user has no
# resource file Xlib looks for one on disk each time (1 % of a core for a
# 30 fps preview). A desktop session has them; this empty file stands in.
[ -e "$HOME/.Xdefaults" ] || : >"$HOME/.Xdefaults"

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

# Decides by really starting a 32-bit program. When that fails, the machine is
# said to be unable to run 32-bit code only if Wine's 32-bit loader itself
# cannot be executed; anything else (no 32-bit Wine, a broken prefix) is a
# failure of the environment, never a reason to skip.
probe() {
  local exe=$1 answer="$dir/no-32-bit" out status=0 loader_out loader_status=0
  rm -f "$answer"
  if [ -n "${SNAPLARK_ASSUME_NO_32BIT:-}" ]; then
    echo "SNAPLARK_ASSUME_NO_32BIT is set" >"$answer"
    echo "32-bit programs: cannot run here ($(cat "$answer"))"
    return 0
  fi
  out=$("$WINE" "$exe" 2>&1 </dev/null) || status=$?
  if [ "$status" -eq 0 ] && grep -q '^wine probe: a 32-bit program ran' <<<"$out"; then
    echo "32-bit programs: run here"
    return 0
  fi
  if [ ! -e "$WINE32_LOADER" ]; then
    echo "The 32-bit probe failed and Wine's 32-bit loader $WINE32_LOADER is missing (install wine32:i386):" >&2
    echo "$out" >&2
    return 1
  fi
  loader_out=$("$WINE32_LOADER" --version 2>&1 </dev/null) || loader_status=$?
  if [ "$loader_status" -ne 0 ] && grep -q "Exec format error" <<<"$loader_out"; then
    echo "the kernel refuses 32-bit code: Wine's 32-bit loader fails with \"Exec format error\"," \
         "and a 32-bit test program did not start (Wine said: $(head -n1 <<<"$out"))" >"$answer"
    echo "32-bit programs: cannot run here ($(cat "$answer"))"
    return 0
  fi
  echo "The 32-bit probe program failed (exit $status) although Wine's 32-bit loader runs:" >&2
  echo "$out" >&2
  return 1
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
    if [ $# -gt 0 ]; then probe "$1"; fi
    ;;
  probe)
    mkdir -p "$dir"
    probe "$1"
    ;;
  run)
    if [ -f "$dir/no-32-bit" ]; then
      echo "Skipped: this machine cannot run 32-bit programs ($(cat "$dir/no-32-bit"))"
      exit "$SKIP_CODE"
    fi
    use_display
    # Wine's service processes outlive the program and inherit its output; send
    # that to a file so that a caller reading a pipe (ctest) sees it close.
    log=$(mktemp "$dir/run.XXXXXX")
    status=0
    "$WINE" "$@" >"$log" 2>&1 </dev/null || status=$?
    cat "$log"
    rm -f "$log"
    # A program's own exit code must never read as a skip.
    if [ "$status" -eq "$SKIP_CODE" ]; then
      echo "exit code $SKIP_CODE is kept for skips; reported as 1"
      status=1
    fi
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
    echo "usage: $0 start|probe|run|stop DIR [EXE ARGS...]" >&2
    exit 2
    ;;
esac
