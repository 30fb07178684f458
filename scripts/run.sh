#!/usr/bin/env bash
# Builds the program and starts it under Wine: its capture window comes up with
# the live test pattern, and its icon sits in the tray; once the window is
# closed, the capture key (F10) puts a frame on the clipboard from the tray.
#
# The demo build (two virtual test-pattern cameras) is started when it exists,
# else the product itself. With an X display of your own it shows there until
# you press Ctrl+C. Without one it runs on a virtual display for a few seconds,
# saves a screenshot of that display into the build tree and prints its path.
#
# SNAPLARK_BUILD_DIR picks another build tree than build/windows.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=${SNAPLARK_BUILD_DIR:-build/windows}
cmake --preset windows -B "$build" >/dev/null
if cmake --build "$build" --target help | grep -q '^SnaplarkDemo:'; then
  program=SnaplarkDemo folder=demo
else
  program=Snaplark folder=product
fi
cmake --build "$build" --target "$program"
exe="$build/$folder/$program.exe"
dir="$(realpath -m "$build/run-wine")"

if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  # The prefix is made (once) on the virtual display; then Wine starts afresh,
  # so that its desktop and tray come up on your display instead.
  scripts/wine-env.sh start "$dir" >/dev/null
  scripts/wine-env.sh stop "$dir"
  export WINEPREFIX="$dir/prefix" HOME="$dir/home" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  echo "$program runs on display $DISPLAY; look for its icon in the tray. Ctrl+C ends it."
  echo "Captures are saved in the prefix's Pictures folder: $HOME"
  echo "After closing the window, click Wine's tray window and press F10; then paste, or:"
  echo "  xclip -selection clipboard -t image/bmp -o > capture.bmp"
  "$wine" "$exe"
  exit
fi

scripts/wine-env.sh start "$dir"
trap 'scripts/wine-env.sh stop "$dir"' EXIT
display=":$(head -n1 "$dir/display")"
scripts/wine-env.sh run "$dir" "$exe" &

# The capture window opens at start; the screenshot waits for it and for a
# few seconds of live preview.
for _ in $(seq 100); do
  DISPLAY=$display xdotool search --name '^Snaplark$' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 2
# One capture, as Enter (or the Capture button) makes it.
DISPLAY=$display xdotool key Return
sleep 1
shot="$dir/screenshot.png"
import -window root -display "$display" "$shot"
echo "Screenshot of the virtual display: $(realpath "$shot")"
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
