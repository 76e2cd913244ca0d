#!/bin/sh
# Takes the picture of the settings dialog in docs/settings-dialog.png: the
# 32-bit DLL's dialog (the one station hosts load), opened by the test host
# under wine on a virtual X display and captured from the screen. Needs
# `make windows` first, and the Debian packages xvfb, xauth, imagemagick and
# fonts-wine (wine's own Tahoma; without it wine falls back to DejaVu Sans,
# which is wider and clips the captions).
set -eu

usage() {
  echo "Usage: docs/make-screenshot.sh [OUTPUT.png]"
  echo "Shows the settings dialog under wine on a virtual display and saves a picture of it"
  echo "(default: docs/settings-dialog.png). Set WIN32_BUILD for another build directory."
}
case "${1:-}" in
  -h | --help)
    usage
    exit 0
    ;;
esac
[ $# -le 1 ] || {
  usage >&2
  exit 2
}

root=$(cd "$(dirname "$0")/.." && pwd)
build=${WIN32_BUILD:-$root/build-win32}
out=$(realpath -m "${1:-$root/docs/settings-dialog.png}")
host=$build/tests/windows/settings_dialog_test.exe
[ -f "$host" ] || {
  echo "no $host: run 'make windows' first" >&2
  exit 1
}
for tool in xvfb-run import wine wineserver; do
  command -v "$tool" >/dev/null || {
    echo "$tool is missing (Debian: xvfb, imagemagick, wine)" >&2
    exit 1
  }
done

export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# A fresh prefix takes a while to make: done before the dialog is timed.
[ -d "$WINEPREFIX" ] || wine wineboot --init
# wine finds its Tahoma and the Marlett of the title bar's buttons only in the
# prefix's Fonts folder.
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
  if [ -f "/usr/share/wine/fonts/$font" ]; then
    cp "/usr/share/wine/fonts/$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  else
    echo "no /usr/share/wine/fonts/$font (Debian: fonts-wine): a fallback font is used" >&2
  fi
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
cd "$build/library"
# wine's own desktop window draws the dialog's frame and title bar, as
# Windows does; a bare X display has no window manager to draw them. The
# dialog stays up 8 s and is taken after 5, once wine has painted it.
xvfb-run -a -s "-screen 0 640x480x24" sh -c '
  wine explorer /desktop=shot,400x300 "$0" ZarvoDll.dll --hold 8 >"$1" 2>/dev/null &
  sleep 5
  geometry=$(sed -n "s/^dialog: //p" "$1" | tr -d "\r")
  if [ -n "$geometry" ]; then import -window root -crop "$geometry" +repage "$2"; fi
  wait
' "$host" "$log" "$out"
wineserver --wait
grep -q "^dialog: " "$log" || {
  echo "the dialog did not appear:" >&2
  cat "$log" >&2
  exit 1
}
echo "wrote $out"
