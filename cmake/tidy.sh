#!/bin/sh
# clang-tidy with the project's .clang-tidy over the sources that ship (not
# tests/, bench/, fuzz/), using a build's compile commands, JOBS at a time.
# Prints each finding once (a header's finding comes from every file that
# includes it) and fails on any.  Usage: sh cmake/tidy.sh BUILD_DIR JOBS
set -u
build=$1
jobs=$2
root=$(pwd)
folders='platform|port|protocol|driver|settings|library|host|sim'
log=$(mktemp)
trap 'rm -f "$log"' EXIT
started=$(date +%s)

if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no $build/compile_commands.json (configure the build first)" >&2
  exit 2
fi
files=$(python3 -c '
import json, re, sys
pattern = re.compile(sys.argv[2])
names = {e["file"] for e in json.load(open(sys.argv[1]))}
print("\n".join(sorted(n for n in names if pattern.search(n))))
' "$build/compile_commands.json" "^$root/($folders)/")
count=$(echo "$files" | wc -l)

# Findings in our own headers count, also when reached through the build's
# per-layer views; those of the libraries' headers do not.
views=$(cd "$build" && pwd)/layers
headers="^($root/(include|codepage|$folders)|$views)/"
if command -v run-clang-tidy >/dev/null 2>&1; then
  run-clang-tidy -quiet -p "$build" -j "$jobs" -header-filter="$headers" "^$root/($folders)/" \
    >"$log" 2>&1
else
  echo "$files" | xargs -P "$jobs" -n 1 clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
    --header-filter="$headers" >"$log" 2>&1
fi
status=$?

# Keep the diagnostics and their notes and code lines; drop the command lines
# and the counts of suppressed warnings; print each finding once.
sed 's/\x1b\[[0-9;]*m//g' "$log" | awk '
  /^[^ ]*clang-tidy(-[0-9]+)? / || / warnings? generated\.$/ || /^Suppressed / || /^Use -header-filter/ { keep = 0; next }
  /^[^ ]+:[0-9]+:[0-9]+: (warning|error): / { keep = !seen[$0]++; if (keep) findings++ }
  keep { print }
  END { exit findings > 0 }'
found=$?
seconds=$(( $(date +%s) - started ))
if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
  # clang-tidy failed without a finding of its own (a file it could not parse, say).
  tail -n 20 "$log"
fi
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
  echo "tidy: findings above in $count files (${seconds}s)"
  exit 1
fi
echo "tidy: $count files clean (${seconds}s)"
