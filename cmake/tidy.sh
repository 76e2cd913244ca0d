#!/bin/sh
# clang-tidy with the project's .clang-tidy over the sources that ship (not
# tests/, bench/, fuzz/), JOBS at a time, in two passes:
# - every check over the batches of a build configured with
#   CMAKE_UNITY_BUILD (each batch one translation unit), so that the standard
#   library's and CLI11's headers are walked once a batch, not once a file;
# - the checks that judge only a translation unit's own file (an unused using
#   declaration, a source file included) over each source on its own.
# Prints each finding once (a header's finding comes from every file that
# includes it) and fails on any.
#   Usage: sh cmake/tidy.sh FILE_BUILD_DIR UNITY_BUILD_DIR JOBS "FOLDER..."
set -u
file_build=$1
unity_build=$2
jobs=$3
root=$(pwd)
folders=$(echo "$4" | tr -s ' ' '|')
per_file_checks='misc-unused-using-decls,bugprone-suspicious-include'
log=$(mktemp)
trap 'rm -f "$log"' EXIT
started=$(date +%s)

# sources BUILD PATTERN: the files of BUILD's compile commands that PATTERN matches.
sources() {
  if [ ! -f "$1/compile_commands.json" ]; then
    echo "tidy: no $1/compile_commands.json (configure the build first)" >&2
    exit 2
  fi
  python3 -c '
import json, re, sys
pattern = re.compile(sys.argv[2])
names = {e["file"] for e in json.load(open(sys.argv[1]))}
print("\n".join(sorted(n for n in names if pattern.search(n))))
' "$1/compile_commands.json" "$2"
}
files=$(sources "$file_build" "^$root/($folders)/") || exit 2
unity_dir=$(cd "$unity_build" && pwd)
# The batches of the shipped targets; the library's objects for the tests are
# the DLL's sources again.
batches=$(sources "$unity_build" "^$unity_dir/($folders)/.*/Unity/" | grep -v zarvo_library_objects) ||
  exit 2
count=$(echo "$files" | wc -l)

# Findings in our own sources and headers count, also when reached through a
# build's per-layer views; those of the libraries' headers do not.
headers="^($root/(include|codepage|$folders)|$(cd "$file_build" && pwd)/layers|$unity_dir/layers)/"
{
  echo "$batches" | xargs -P "$jobs" -n 1 clang-tidy -p "$unity_build" --quiet \
    --config-file="$root/.clang-tidy" --checks="-misc-unused-using-decls,-bugprone-suspicious-include" \
    --warnings-as-errors='*' --header-filter="$headers"
  first=$?
  echo "$files" | xargs -P "$jobs" -n 1 clang-tidy -p "$file_build" --quiet \
    --config-file="$root/.clang-tidy" --checks="-*,$per_file_checks" \
    --warnings-as-errors='*' --header-filter="$headers"
  second=$?
  [ "$first" = 0 ] && [ "$second" = 0 ]
} > "$log" 2>&1
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
