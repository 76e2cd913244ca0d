#!/bin/sh
# 32-bit wine for the tests of the 32-bit DLL, one of two ways:
# - the machine's own wine32 from Debian's i386 architecture, when apt can
#   install it beside the machine's amd64 libraries (multiarch needs both at
#   one version, which a security update half-synced to a mirror breaks);
# - else an i386 Debian root of its own in ROOT, made with debootstrap from
#   the machine's own Debian source and kept between runs; the tests then run
#   wine inside it (setup/in-root.sh).
#   wine32.sh ROOT
# Prints which way it went on its last line: "wine32: the machine's" or
# "wine32: i386 root ROOT".
set -eu
root=$1
here=$(cd "$(dirname "$0")" && pwd)

if [ -x /usr/lib/wine/wine ]; then
  echo "wine32: the machine's"
  exit 0
fi
if [ -f "$root/.zarvo-ready" ]; then
  echo "wine32: i386 root $root"
  exit 0
fi

added=
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  added=yes
fi
if sh "$here/packages.sh" wine32 wine32:i386; then
  echo "wine32: the machine's"
  exit 0
fi
# Leave the machine as it was: an i386 architecture with nothing of it
# installed would only make every apt-get update fetch indexes for it.
if [ -n "$added" ] && [ -z "$(dpkg-query -W -f='${Architecture}\n' 2> /dev/null | grep -x i386)" ]; then
  dpkg --remove-architecture i386
fi

echo "wine32: cannot be installed beside this machine's packages; making an i386 root in $root"
sh "$here/packages.sh" wine32-root debootstrap
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
# The machine's own Debian source: one whose index of the release apt could
# fetch (a source that is down has none).
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(FILENAME)' \
  'Created-By: Packages' 2> /dev/null |
  while read -r uri release component file; do
    if [ "$release" = "$suite" ] && [ "$component" = main ] && [ -f "$file" ]; then
      echo "${uri%/}"
      break
    fi
  done)
mirror=${mirror:-http://deb.debian.org/debian}

partial=$root.partial
rm -rf "$partial"
mkdir -p "$(dirname "$root")"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! debootstrap --arch=i386 --variant=minbase "$suite" "$partial" "$mirror" > "$log" 2>&1; then
  tail -n 15 "$log" >&2
  echo "wine32: debootstrap of an i386 $suite root from $mirror failed" >&2
  exit 1
fi
cp /etc/resolv.conf "$partial/etc/resolv.conf" 2> /dev/null || true
# Only the release itself: its packages agree with each other by construction.
echo "deb $mirror $suite main" > "$partial/etc/apt/sources.list"
if ! sh "$here/in-root.sh" "$partial" / sh -c \
  'export DEBIAN_FRONTEND=noninteractive; apt-get update -q &&
   apt-get install -y -q --no-install-recommends wine wine32 xauth' > "$log" 2>&1; then
  grep -E '^(E|Err):' "$log" | head -n 10 >&2 || tail -n 10 "$log" >&2
  echo "wine32: apt-get in the i386 root failed" >&2
  exit 1
fi
touch "$partial/.zarvo-ready"
rm -rf "$root"
mv "$partial" "$root"
echo "wine32: i386 root $root"
