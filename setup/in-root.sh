#!/bin/sh
# Runs a program inside a Debian root made by setup/wine32.sh, in the given
# working directory, with this machine's /dev, /proc, /sys and /tmp and each
# PATH seen at its own place. The mounts live in a mount namespace of the
# program's own, so nothing stays mounted when it and its children end.
#   in-root.sh ROOT WORKDIR [--see PATH]... PROGRAM ARG...
set -eu
root=$1
workdir=$2
shift 2
seen=
while [ "${1:-}" = --see ]; do
  seen="$seen $2"
  shift 2
done

# The root is made a private mount of its own first, so that nothing mounted
# under it reaches another namespace; '--propagation private' would need the
# caller's / to be a mount point, which it is not inside a chroot.
exec unshare --mount --propagation unchanged sh -eu -c '
  root=$1 workdir=$2 seen=$3
  shift 3
  mount --bind "$root" "$root"
  mount --make-rprivate "$root"
  mount --rbind /dev "$root/dev"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --bind /tmp "$root/tmp"
  for path in $seen; do
    mkdir -p "$root$path"
    mount --bind "$path" "$root$path"
  done
  exec chroot "$root" sh -c "cd \"\$0\" && exec \"\$@\"" "$workdir" "$@"
' in-root "$root" "$workdir" "$seen" "$@"
