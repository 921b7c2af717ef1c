#!/bin/sh
# Makes the pictures in docs/windows.md of sizestamp.exe's message boxes, a success and
# an error, by running the Windows program under Wine on a virtual screen.
#
# usage: scripts/screenshots.sh [SIZESTAMP.exe]
#        (default build/windows/sizestamp.exe: `cmake --workflow --preset windows` first;
#        Wine runs in that build's prefix, or in $WINEPREFIX when set)
# needs: wine, fonts-wine, xvfb (xvfb-run), xdotool, imagemagick
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/windows/sizestamp.exe}")
prefix=$(realpath -m "${WINEPREFIX:-$root/build/windows/wine-prefix}")
images=$root/docs/images
# Without Wine's own Marlett the title bar's close button is drawn as a letter.
if [ ! -f /usr/share/wine/fonts/marlett.ttf ]; then
  echo "screenshots.sh: Wine's fonts are missing: install fonts-wine (scripts/install-deps)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs inside xvfb-run: starts the program on a Wine desktop of its own (which
# draws the box's title bar), photographs the box, then presses OK.
cat >"$work/shoot.sh" <<'SHOOT'
set -eu
output=$1
full=$2
wine=$3
prefix=$4
shift 4
"$wine" "$prefix" --display explorer /desktop=sizestamp,640x480 "$@" &
wine_pid=$!
xdotool search --sync --name '^sizestamp - Wine desktop$' >/dev/null
sleep 2  # let the box paint
import -window root -crop 640x480+0+0 +repage "$full"
xdotool key Return
wait "$wine_pid" || true
# Cut the box out of the desktop, keeping a margin of the desktop's colour.
background=$(convert "$full" -format '%[pixel:p{1,1}]' info:)
convert "$full" -trim +repage -bordercolor "$background" -border 16 "$output"
SHOOT

shoot() {
  (cd "$work" &&
    xvfb-run -a -s "-screen 0 800x600x24" sh "$work/shoot.sh" "$images/$1" "$work/full.png" \
      "$root/scripts/wine" "$prefix" "$program" $2)
  echo "wrote docs/images/$1"
}

shoot message-success.png "/s 305419896 /f example.bin"
shoot message-error.png "/s 4294967296 /f example.bin"
