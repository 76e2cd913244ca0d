#!/bin/sh
# Installs the Debian packages of one set-up tier that are not installed yet.
#   packages.sh TIER PACKAGE...
# A package source that cannot be read does not stop it: apt-get update may
# fail for one index while the others are fresh, so whatever it exits with,
# the packages still missing are installed from what apt knows. It fails only
# when a package the tier needs cannot be installed, naming it and apt's reason.
set -u
tier=$1
shift

missing_of() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2> /dev/null | grep -q '^install ok installed$' ||
      printf '%s ' "$package"
  done
}

# apt's own words that matter: errors and the dependency lines under them,
# not the hashes and sizes of an index it could not check.
reasons() {
  grep -E '^(E|Err|W):|^ [^ ].* : |^  [A-Za-z]' "$1" |
    grep -v -E 'Hashes of expected file|^ +- (Filesize|SHA256|MD5Sum)|Release file created at' |
    sed 's/^/    /' | head -n 12
}

missing=$(missing_of "$@")
if [ -z "$missing" ]; then
  echo "$tier tier: its $# packages are installed"
  exit 0
fi

if [ "$(id -u)" = 0 ]; then
  as_root=
elif command -v sudo > /dev/null 2>&1 && sudo -n true 2> /dev/null; then
  as_root=sudo
else
  echo "$tier tier: these Debian packages are missing: $missing" >&2
  echo "Installing them needs root: run 'sudo make deps-$tier' once, or as root" >&2
  echo "  apt-get install --no-install-recommends $missing" >&2
  exit 1
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
export DEBIAN_FRONTEND=noninteractive
echo "$tier tier: installing $missing"
# apt exits 0 when a source cannot be reached at all, and 100 when an index
# fails its check; both leave the other sources usable, and both are said.
if ! $as_root apt-get update -q > "$log" 2>&1 || grep -q '^Err:' "$log"; then
  echo "$tier tier: some package sources could not be read; going on with what apt knows:"
  reasons "$log"
fi

# shellcheck disable=SC2086 # the list is words on purpose
if ! $as_root apt-get install -y -q --no-install-recommends $missing > "$log" 2>&1; then
  # One package apt cannot resolve refuses the whole list: install the others
  # one by one, so that the failure names exactly what is missing.
  for package in $missing; do
    $as_root apt-get install -y -q --no-install-recommends "$package" > "$log" 2>&1 ||
      { echo "$tier tier: apt cannot install $package:"; reasons "$log"; }
  done
fi

# shellcheck disable=SC2086
still=$(missing_of $missing)
if [ -n "$still" ]; then
  echo "$tier tier: not installed: $still" >&2
  exit 1
fi
echo "$tier tier: installed"
