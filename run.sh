#!/usr/bin/env bash
# Sets up what is missing, builds the Windows program and opens the viewer
# under Wine on the given file or folder, or on the bundled samples.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
. scripts/env.sh
build build/win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake"
target=${1:-$root/samples}
target=$(realpath "$target")
# A folder opens at its first image; the viewer steps through the rest.
if [ -d "$target" ]; then
  target=$(find "$target" -maxdepth 1 -type f -regextype posix-extended -iregex \
    '.*\.(bmp|dib|rle|gif|png|jpe?g|jpe|jfif|jif)' | sort | head -1)
  [ -n "$target" ] || { echo "no image in that folder" >&2; exit 1; }
fi
if [ -n "${DISPLAY:-}" ]; then
  exec wine build/win/Pixvane.exe "Z:$target"
fi
# No display: show it on a virtual screen and keep a screenshot.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine build/win/Pixvane.exe "Z:$1" & sleep 8
  import -window root build/run-screenshot.png && echo "screenshot: build/run-screenshot.png"
  wineserver -k' _ "$target"
