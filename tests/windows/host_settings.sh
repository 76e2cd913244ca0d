#!/bin/sh
# zarvo.exe settings: the driver's dialog opens from the entry it added to the
# menu bar of the tool's window, and shows as a window of zarvo.exe. Nobody
# closes it here: the test ends the tool once the dialog is seen.
# Usage: host_settings.sh WINE WINESERVER ZARVO_EXE   (WINEPREFIX set, on an X display)
# Exits 77 (skipped) without xwininfo to look at the display's windows.
set -u
wine=$1
wineserver=$2
host=$3
caption='"Настройка ТРК Zarvo": ("zarvo.exe"'

if ! command -v xwininfo > /dev/null; then
  echo "SKIPPED: no xwininfo (make deps installs x11-utils)"
  exit 77
fi

# A wineserver still serving the prefix from a test without a display would
# keep this one's windows off the display too.
"$wineserver" --wait
out=$(mktemp)
setsid "$wine" "$host" settings > "$out" 2>&1 &
pid=$!
cleanup() {
  kill -TERM "-$pid" 2> /dev/null
  (sleep 10 && kill -KILL "-$pid") > /dev/null 2>&1 &
  watchdog=$!
  wait "$pid" 2> /dev/null
  kill "$watchdog" 2> /dev/null
  rm -f "$out"
}
trap cleanup EXIT

for _ in $(seq 120); do
  if xwininfo -root -tree | grep -qF "$caption"; then
    xwininfo -root -tree | grep -F '("zarvo.exe"'
    echo "passed"
    exit 0
  fi
  kill -0 "$pid" 2> /dev/null || break
  sleep 0.5
done
cat "$out"
echo "FAILED: no settings dialog of zarvo.exe appeared"
exit 1
