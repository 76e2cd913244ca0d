#!/bin/sh
# Unpacks the SQLite amalgamation (sqlite3.c, sqlite3.h) for the MinGW builds
# into DIR, from an npm package that ships it (its tarball straight from the
# registry: no Node.js needed), and checks both files against the given
# SHA-256 sums. Does nothing when DIR already holds the right files.
#   fetch-sqlite.sh DIR PACKAGE@VERSION SQLITE3_C_SHA256 SQLITE3_H_SHA256
# NPM_REGISTRY names another registry than npm's own.
set -eu
dir=$1
package=$2
c_sum=$3
h_sum=$4

matches() {
  printf '%s  %s\n%s  %s\n' "$c_sum" "$1/sqlite3.c" "$h_sum" "$1/sqlite3.h" |
    sha256sum --check --status --strict - 2>/dev/null
}

if matches "$dir"; then
  echo "SQLite amalgamation: $dir"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=${package%@*}
version=${package##*@}
registry=${NPM_REGISTRY:-https://registry.npmjs.org}
curl -fsSL --retry 3 -o "$work/package.tgz" "$registry/$name/-/$name-$version.tgz"
tar -xzf "$work/package.tgz" -C "$work" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
if ! matches "$work/package/deps/sqlite3"; then
  echo "fetch-sqlite.sh: $package's sqlite3.c or sqlite3.h has another checksum" >&2
  sha256sum "$work"/package/deps/sqlite3/sqlite3.[ch] >&2
  exit 1
fi
mkdir -p "$dir"
cp "$work"/package/deps/sqlite3/sqlite3.c "$work"/package/deps/sqlite3/sqlite3.h "$dir"/
echo "SQLite amalgamation from $package: $dir"
