#!/bin/sh
# zarvo.exe --json demo against its built-in simulator on a line in memory:
# no COM port at all. Each step's result is one JSON line.
# Usage: host_demo.sh WINE ZARVO_EXE   (WINEPREFIX set)
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$1" "$2" --json demo > "$out"
status=$?
cat "$out"
[ "$status" = 0 ] || { echo "FAILED: zarvo.exe demo exited with $status"; exit 1; }
grep -q '"error"' "$out" && { echo "FAILED: a step reports an error"; exit 1; }
# 100.00 at 50.00 a litre is exactly 2 litres; pump 2 stopped well before its 20.
for line in '"preset":{"amount":100},"volume":2,"amount":100' \
            '"command":"totals","line":1,"pump":1,"nozzle":1,"volume":2,"amount":100' \
            '"command":"stop","line":1,"pump":2' '"number":40,"value":2'; do
  grep -qF "$line" "$out" || { echo "FAILED: no $line in the results"; exit 1; }
done
echo "passed"
