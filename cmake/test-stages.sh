#!/usr/bin/env bash
# make test: every stage of the suite, AT_ONCE at a time (default 2), each a
# make target with its output in LOGS/STAGE.log; a stage starts when those it
# needs have passed. While one stage waits on timeouts, pacing and wine, the
# other keeps the processors busy (builds run niced, so tests keep their time).
# Ends with a table of each stage's seconds (wall and processor) and result;
# fails if any failed.
#   test-stages.sh LOGS WIN32_BUILD
set -u
logs=$1
win32_build=$2
at_once=${STAGES_AT_ONCE:-2}
make=${MAKE:-make}
mkdir -p "$logs"

# name, make target, the stages it needs; started in this order as slots free.
# The Windows builds first: the wine tests after them wait the longest.
stages=(
  "native test-native"
  "win32 win32"
  "win64 win64"
  "wine32 test-wine32 native win32"
  "wine64 test-wine64 native win64"
  "dist test-dist native win32 win64"
  "sanitize sanitize"
  "tidy tidy"
  "fuzz fuzz"
  "i386 test-i386"
  "tsan tsan"
)

declare -A target needs result seconds started pid_of
order=()
for line in "${stages[@]}"; do
  read -r name goal deps <<< "$line"
  order+=("$name")
  target[$name]=$goal
  needs[$name]=$deps
  result[$name]=pending
done

now() { date +%s; }
begun=$(now)
running=0

start() {
  local name=$1
  started[$name]=$(now)
  result[$name]=running
  # The processor seconds it took (user and system) go beside its log.
  { TIMEFORMAT='%U %S'; time "$make" --no-print-directory "${target[$name]}" \
      > "$logs/$name.log" 2>&1; } 2> "$logs/$name.cpu" &
  pid_of[$!]=$name
  running=$((running + 1))
  printf '[%4d s] %s: started (make %s)\n' $(($(now) - begun)) "$name" "${target[$name]}"
}

# A pending stage whose needs all passed may start; one whose need did not pass is skipped.
ready() {
  local name=$1 dep
  for dep in ${needs[$name]}; do
    case ${result[$dep]} in
      passed) ;;
      failed | skipped) result[$name]=skipped; seconds[$name]=0; return 1 ;;
      *) return 1 ;;
    esac
  done
}

while :; do
  for name in "${order[@]}"; do
    [ "${result[$name]}" = pending ] || continue
    [ "$running" -lt "$at_once" ] || break
    ready "$name" && start "$name"
  done
  [ "$running" -gt 0 ] || break
  wait -n -p done_pid
  status=$?
  name=${pid_of[$done_pid]}
  running=$((running - 1))
  seconds[$name]=$(($(now) - ${started[$name]}))
  if [ "$status" = 0 ]; then result[$name]=passed; else result[$name]=failed; fi
  printf '[%4d s] %s: %s (%d s)\n' $(($(now) - begun)) "$name" "${result[$name]}" "${seconds[$name]}"
done
total=$(($(now) - begun))

failed=0
for name in "${order[@]}"; do
  [ "${result[$name]}" = passed ] && continue
  failed=1
  [ "${result[$name]}" = failed ] || continue
  echo
  echo "==== $name failed: the end of $logs/$name.log"
  tail -n 60 "$logs/$name.log"
done

# Where the 32-bit wine tests ran (tests/windows/CMakeLists.txt).
if [ -x "$win32_build/i386-root/wine" ]; then wine32="32-bit wine in the i386 root"
else wine32="the machine's 32-bit wine"; fi
echo
cpu_of() { awk '{ printf "%d", $1 + $2 }' "$logs/$1.cpu" 2> /dev/null || echo 0; }
printf '%-10s %8s %8s  %s\n' stage seconds cpu-s result
cpu_total=0
for name in "${order[@]}"; do
  note=
  [ "$name" = wine32 ] && note="  ($wine32)"
  cpu=$(cpu_of "$name")
  cpu_total=$((cpu_total + ${cpu:-0}))
  printf '%-10s %8s %8s  %s%s\n' "$name" "${seconds[$name]:-0}" "${cpu:-0}" "${result[$name]}" "$note"
done
printf '%-10s %8s %8s  %s\n' total "$total" "$cpu_total" \
  "$([ "$failed" = 0 ] && echo passed || echo FAILED)"
exit "$failed"
