#!/usr/bin/env bash
# Builds the program and starts it under Wine: its capture window comes up with
# the live test pattern, and its icon sits in the tray; once the window is
# closed, the capture key (F10) puts a frame on the clipboard from the tray.
#
# The demo build (two virtual test-pattern cameras) is started when it exists,
# else the product itself. The 32-bit build is started where this machine can
# run 32-bit programs; elsewhere the 64-bit build (build/windows64) is, and the
# script says why. With an X display of your own it shows there until you press
# Ctrl+C. Without one it runs on a virtual display for a few seconds, saves a
# screenshot of that display into the build tree and prints its path.
#
# SNAPLARK_BUILD_DIR picks another build tree than build/windows for the 32-bit build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build_program() {  # build_program PRESET TREE: sets program, folder and exe
  cmake --preset "$1" -B "$2" >/dev/null
  if cmake --build "$2" --target help | grep -q '^SnaplarkDemo:'; then
    program=SnaplarkDemo folder=demo
  else
    program=Snaplark folder=product
  fi
  cmake --build "$2" --target "$program"
  exe="$2/$folder/$program.exe"
}

# Prints the program's own window when it appears within 20 s, or what Wine said
# and fails: a program that never started must not look as if it ran.
wait_for_window() {  # wait_for_window DISPLAY PID LOG
  for _ in $(seq 100); do
    if DISPLAY=$1 xdotool search --name '^Snaplark$' >/dev/null 2>&1; then return 0; fi
    kill -0 "$2" 2>/dev/null || break
    sleep 0.2
  done
  echo "$program did not open its window. Wine said:" >&2
  cat "$3" >&2
  return 1
}

build=${SNAPLARK_BUILD_DIR:-build/windows}
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target wine_probe
dir="$(realpath -m "$build/run-wine")"
scripts/wine-env.sh start "$dir" "$build/wine_probe.exe"
if [ -f "$dir/no-32-bit" ]; then
  echo "This machine cannot run 32-bit programs; starting the 64-bit build instead."
  scripts/wine-env.sh stop "$dir"
  build=build/windows64
  build_program windows64 "$build"
  dir="$(realpath -m "$build/run-wine")"
  scripts/wine-env.sh start "$dir" >/dev/null
else
  build_program windows "$build"
fi
log="$dir/program.log"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  # The prefix was made on the virtual display; now Wine starts afresh, so
  # that its desktop and tray come up on your display instead.
  scripts/wine-env.sh stop "$dir"
  export WINEPREFIX="$dir/prefix" HOME="$dir/home" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  "$wine" "$exe" >"$log" 2>&1 &
  wait_for_window "$DISPLAY" $! "$log"
  echo "$program runs on display $DISPLAY; look for its icon in the tray. Ctrl+C ends it."
  echo "Captures are saved in the prefix's Pictures folder: $HOME"
  echo "After closing the window, click Wine's tray window and press F10; then paste, or:"
  echo "  xclip -selection clipboard -t image/bmp -o > capture.bmp"
  wait
  exit
fi

trap 'scripts/wine-env.sh stop "$dir"' EXIT
display=":$(head -n1 "$dir/display")"
scripts/wine-env.sh run "$dir" "$exe" >"$log" 2>&1 &
wait_for_window "$display" $! "$log"
# A few seconds of live preview before the screenshot.
sleep 2
# One capture, as Enter (or the Capture button) makes it.
DISPLAY=$display xdotool key Return
sleep 1
shot="$dir/screenshot.png"
import -window root -display "$display" "$shot"
echo "Screenshot of the virtual display ($program, $(basename "$build")): $(realpath "$shot")"
newest=$(ls -t "$dir"/home/Snaplark_Capture_*.bmp 2>/dev/null | head -n1 || true)
if [ -n "$newest" ]; then
  echo "Captured picture (the prefix's Pictures folder is $dir/home): $newest"
fi

# Back to the tray; the window's capture is still on the clipboard, which X
# applications see as image/bmp.
DISPLAY=$display xdotool key Escape
sleep 3
tray_shot="$dir/screenshot-tray.png"
import -window root -display "$display" "$tray_shot"
echo "Screenshot after closing the window (the tray and its notice): $(realpath "$tray_shot")"
if DISPLAY=$display xclip -selection clipboard -t image/bmp -o >"$dir/clipboard.bmp" 2>/dev/null; then
  echo "The clipboard's picture, as X applications paste it: $(realpath "$dir/clipboard.bmp")"
fi
