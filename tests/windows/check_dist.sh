#!/bin/sh
# Lists each archive of make dist and checks what it holds: the files a station
# or a Linux user needs, the version everywhere, the README as CRLF UTF-8.
#   check_dist.sh DIST_DIR VERSION
set -u
dist=$1
version=$2
failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for arch in win32 win64; do
  zip=$dist/zarvo-$version-$arch.zip
  [ -f "$zip" ] || { fail "no $zip"; continue; }
  echo "== $zip"
  unzip -l "$zip"
  unzip -q "$zip" -d "$work/$arch" || { fail "cannot unpack $zip"; continue; }
  dir=$work/$arch/zarvo-$version-$arch
  for file in ZarvoDll.dll zarvo.exe zarvo-sim.exe da30.h HOSTS.md README.txt; do
    [ -s "$dir/$file" ] || fail "$arch: no $file"
  done
  case $arch in
    win32) format='pei-i386' ;;
    *) format='pei-x86-64' ;;
  esac
  for binary in "$dir"/*.dll "$dir"/*.exe; do
    [ -f "$binary" ] || continue
    file=$(basename "$binary")
    objdump -f "$binary" 2> /dev/null | grep -q "file format $format" ||
      fail "$arch: $file is not $format"
    # The version resource, in UTF-16 as Windows keeps it.
    strings -el "$binary" | grep -qx "$version" || fail "$arch: $file has no version $version resource"
    strings -el "$binary" | grep -qx "Zarvo" || fail "$arch: $file has no product name"
  done
  readme=$dir/README.txt
  iconv -f UTF-8 -t UTF-8 "$readme" > /dev/null 2>&1 || fail "$arch: README.txt is not UTF-8"
  [ "$(grep -c "$(printf '\r')\$" "$readme")" = "$(wc -l < "$readme")" ] ||
    fail "$arch: README.txt has lines without CRLF"
  grep -q "Zarvo $version" "$readme" || fail "$arch: README.txt does not name version $version"
  grep -q 'Установка' "$readme" && grep -q 'Installing' "$readme" ||
    fail "$arch: README.txt lacks the Russian or the English part"
done

tarball=$dist/zarvo-$version-linux-x86_64.tar.gz
if [ -f "$tarball" ]; then
  echo "== $tarball"
  tar -tvzf "$tarball"
  tar -xzf "$tarball" -C "$work"
  dir=$work/zarvo-$version-linux-x86_64
  for file in libZarvoDll.so zarvo zarvo-sim da30.h HOSTS.md zarvo-sim.md; do
    [ -s "$dir/$file" ] || fail "linux: no $file"
  done
  [ -x "$dir/zarvo" ] && [ -x "$dir/zarvo-sim" ] || fail "linux: the tools are not executable"
  # The unpacked host finds the library beside it and says the one version.
  [ "$("$dir/zarvo" --version 2> /dev/null)" = "zarvo $version" ] ||
    fail "linux: zarvo --version does not say $version"
  ZARVO_LIB= "$dir/zarvo" --json info > "$work/info.json" 2>&1 ||
    fail "linux: zarvo info cannot load the library beside it: $(cat "$work/info.json")"
else
  fail "no $tarball"
fi

[ "$failed" = 0 ] && echo "archives checked" || echo "$failed checks FAILED"
[ "$failed" = 0 ]
