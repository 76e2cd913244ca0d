#!/bin/sh
# A reference host fuels through zarvo-sim.exe serving a COM port under wine: a
# pseudo-terminal pair joins them, one end behind the COM port (a link in the
# prefix's dosdevices), the other opened by the host. The Linux host opens the
# pseudo-terminal itself; zarvo.exe runs under wine on the next COM port, the
# other end's.
# Usage: com_port_fuel.sh WINE ZARVO_SIM_EXE ZARVO[.exe] COM_NUMBER   (WINEPREFIX set)
# Exits 77 (skipped) without the native host or socat.
set -u
wine=$1
sim=$2
host=$3
com=$4
host_com=$((com + 1))

if [ ! -x "$host" ]; then
  echo "SKIPPED: no native reference host at $host (build it first: make build)"
  exit 77
fi
if ! command -v socat > /dev/null; then
  echo "SKIPPED: no socat (make deps installs it)"
  exit 77
fi

work=$(mktemp -d)
socat_pid=
sim_pid=
cleanup() {
  # The simulator serves until killed; its process group holds wine's loader too.
  if [ -n "$sim_pid" ]; then
    kill -TERM "-$sim_pid" 2> /dev/null
    (sleep 10 && kill -KILL "-$sim_pid") > /dev/null 2>&1 &
    watchdog=$!
    wait "$sim_pid" 2> /dev/null
    kill "$watchdog" 2> /dev/null
  fi
  [ -n "$socat_pid" ] && kill "$socat_pid" 2> /dev/null
  rm -f "$WINEPREFIX/dosdevices/com$com" "$WINEPREFIX/dosdevices/com$host_com"
  rm -rf "$work"
}
trap cleanup EXIT

socat pty,raw,echo=0,link="$work/sim" pty,raw,echo=0,link="$work/host" 2> "$work/socat.log" &
socat_pid=$!
for _ in $(seq 50); do [ -e "$work/sim" ] && [ -e "$work/host" ] && break; sleep 0.1; done
# wine opens the device the link names; the link must name the pty itself.
ln -sfn "$(readlink -f "$work/sim")" "$WINEPREFIX/dosdevices/com$com"
case $host in
  *.exe)
    ln -sfn "$(readlink -f "$work/host")" "$WINEPREFIX/dosdevices/com$host_com"
    host_line="COM$host_com"
    run_host() { "$wine" "$host" "$@"; }
    ;;
  *)
    host_line="$work/host"
    run_host() { "$host" "$@"; }
    ;;
esac

setsid "$wine" "$sim" --device "COM$com" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!

# The simulator needs a few seconds under wine before it answers.
ready=
for _ in $(seq 60); do
  if run_host --json --line "1=$host_line" status 1 1 > "$work/status.json" 2> /dev/null; then
    ready=1
    break
  fi
  sleep 0.5
done
if [ -z "$ready" ]; then
  echo "FAILED: zarvo-sim.exe never answered on COM$com"
  cat "$work/status.json" "$work/sim.err"
  exit 1
fi
echo "zarvo --json status 1 1: $(cat "$work/status.json")"

echo "$(basename "$host") --json --line 1=$host_line fuel 1 1 1 --amount 100 --price 50 (zarvo-sim.exe on COM$com, $(readlink -f "$work/host") to $(readlink -f "$work/sim")):"
run_host --json --line "1=$host_line" fuel 1 1 1 --amount 100 --price 50 > "$work/fuel.json"
status=$?
cat "$work/fuel.json"
echo
[ "$status" = 0 ] || { echo "FAILED: zarvo fuel exited with $status"; exit 1; }
# 100.00 at 50.00 a litre: exactly 2 litres for 100.
for field in '"preset":{"amount":100}' '"volume":2,"amount":100' ; do
  grep -qF "$field" "$work/fuel.json" || { echo "FAILED: no $field in the result"; exit 1; }
done
grep -q '"error"' "$work/fuel.json" && { echo "FAILED: the result reports an error"; exit 1; }
echo "passed"
