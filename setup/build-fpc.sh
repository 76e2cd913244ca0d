#!/bin/sh
# Builds Free Pascal's i386 compiler and its 32-bit Windows RTL from Debian's
# fpc-source into PREFIX, for the Pascal test host. Debian ships the compiler
# for Linux only. Does nothing when PREFIX is built.
#   build-fpc.sh PREFIX VERSION   (VERSION: Debian's fp-compiler-VERSION)
set -eu
PREFIX=$1
VERSION=$2
SOURCES=/usr/share/fpcsrc/$VERSION
# Debian's own compiler (fp-compiler) and fpcmake (fp-utils), by their versioned paths.
FPC_LIB=/usr/lib/$(gcc -print-multiarch)/fpc/$VERSION
PPCX64=$FPC_LIB/ppcx64
FPCMAKE=/usr/bin/fpcmake-$VERSION

if [ -x "$PREFIX/bin/ppc386" ] && [ -f "$PREFIX/units/i386-win32/rtl/system.ppu" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$SOURCES/compiler" "$SOURCES/rtl" "$work/"

echo "Building the Free Pascal i386 compiler into $PREFIX"
mkdir -p "$work/compiler/msg"
cp "$FPC_LIB/msg/errore.msg" "$work/compiler/msg/"
(cd "$work/compiler" && "$FPCMAKE" -Tall >/dev/null &&
  make -s PP="$PPCX64" FPC="$PPCX64" CPC_TARGET=i386 compiler >"$work/compiler.log" 2>&1) ||
  { tail -n 30 "$work/compiler.log"; exit 1; }
ppc386="$work/compiler/ppc386"

echo "Building the Free Pascal RTL for i386-win32"
: >"$work/rtl/i386/makefile.cpu"
(cd "$work/rtl/win32" && "$FPCMAKE" -Tall >/dev/null &&
  make -s PP="$ppc386" FPC="$ppc386" CPU_TARGET=i386 OS_TARGET=win32 >"$work/rtl.log" 2>&1) ||
  { tail -n 30 "$work/rtl.log"; exit 1; }

staging="$PREFIX.partial"
rm -rf "$staging"
mkdir -p "$staging/bin" "$staging/units/i386-win32/rtl"
cp "$ppc386" "$staging/bin/ppc386"
cp "$work"/rtl/units/i386-win32/* "$staging/units/i386-win32/rtl/"
rm -rf "$PREFIX"
mv "$staging" "$PREFIX"
