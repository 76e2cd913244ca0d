#!/bin/sh
# Packs what ships into OUT: zarvo-VERSION-win32.zip and -win64.zip from the
# two MinGW builds, zarvo-VERSION-linux-x86_64.tar.gz from the native one. The
# version is the one CMake's project() gave every build.
#   make-dist.sh OUT NATIVE_BUILD WIN32_BUILD WIN64_BUILD
set -eu
out=$1
native=$2
win32=$3
win64=$4
source_dir=$(cd "$(dirname "$0")/.." && pwd)

version_of() {
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt" 2> /dev/null
}
version=$(version_of "$native")
[ -n "$version" ] || { echo "make-dist.sh: $native is not configured" >&2; exit 1; }
for build in "$win32" "$win64"; do
  if [ "$(version_of "$build")" != "$version" ]; then
    echo "make-dist.sh: $build is not configured for version $version: run make windows" >&2
    exit 1
  fi
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# Station machines read the README with Notepad: CRLF line ends.
station_readme() {
  sed -e "s/@VERSION@/$version/" -e 's/$/\r/' "$source_dir/docs/README-station.txt" > "$1/README.txt"
}

pack_windows() {
  build=$1
  name=zarvo-$version-$2
  dir=$stage/$name
  mkdir -p "$dir"
  cp "$build/library/ZarvoDll.dll" "$build/host/zarvo.exe" "$build/sim/zarvo-sim.exe" \
    "$source_dir/include/zarvo/da30.h" "$source_dir/docs/HOSTS.md" "$dir/"
  station_readme "$dir"
  rm -f "$out/$name.zip"
  (cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")
  echo "$out/$name.zip"
}

pack_windows "$win32" win32
pack_windows "$win64" win64

name=zarvo-$version-linux-x86_64
dir=$stage/$name
mkdir -p "$dir"
cp "$native/library/libZarvoDll.so" "$native/host/zarvo" "$native/sim/zarvo-sim" \
  "$source_dir/include/zarvo/da30.h" "$source_dir/docs/HOSTS.md" "$dir/"
cp "$source_dir/sim/README.md" "$dir/zarvo-sim.md"
# Debug sections stay in the build tree.
strip --strip-debug "$dir/libZarvoDll.so" "$dir/zarvo" "$dir/zarvo-sim"
tar -C "$stage" --owner=0 --group=0 --numeric-owner -czf "$out/$name.tar.gz" "$name"
echo "$out/$name.tar.gz"
