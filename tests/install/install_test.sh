#!/usr/bin/env bash
# Installs the built project into a temporary prefix and uses it as a user would: the soname link that
# ldconfig makes and caches, the installed tools, the C example host built through pkg-config and through
# find_package (including the header both as <nsKVDLibrary/nsAPItypes.h> and as "nsAPItypes.h"), dlopen
# by the soname, and the Python package.
#   install_test.sh SOURCE_DIR BUILD_DIR LIBDIR [PYTHON SITEDIR]   (LIBDIR, SITEDIR: relative to the prefix)
set -euo pipefail
src=$1 build=$2 libdir_rel=$3 python=${4:-} sitedir_rel=${5:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
libdir=$prefix/$libdir_rel
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log" >&2; fail "install failed"; }
[ -f "$libdir/libnsKVDLibrary.so.1.0.0" ] || fail "no libnsKVDLibrary.so.1.0.0 in $libdir"
[ "$(readlink "$libdir/libnsKVDLibrary.so")" = libnsKVDLibrary.so.1.0.0 ] || fail "no development link"
[ -f "$prefix/include/nsKVDLibrary/nsAPItypes.h" ] || fail "no header in include/nsKVDLibrary"
readelf -d "$libdir/libnsKVDLibrary.so.1.0.0" | grep 'soname: \[nsKVDLibrary.so.1\]' >/dev/null || fail "wrong soname"

# ldconfig links the soname to the file and caches it under that name (a private cache: the system's
# own stays untouched).
rm "$libdir/nsKVDLibrary.so.1"
ldconfig=$(command -v ldconfig || echo /sbin/ldconfig)
"$ldconfig" -n "$libdir"
[ "$(readlink "$libdir/nsKVDLibrary.so.1")" = libnsKVDLibrary.so.1.0.0 ] || fail "ldconfig made no soname link"
"$ldconfig" -C "$tmp/ld.so.cache" -f /dev/null "$libdir" 2>/dev/null
"$ldconfig" -C "$tmp/ld.so.cache" -p | grep "nsKVDLibrary.so.1 .*=> $libdir/nsKVDLibrary.so.1" >/dev/null ||
  fail "ldconfig does not cache nsKVDLibrary.so.1"

# The installed tools find the installed library through their run path.
"$prefix/bin/kvdsynth" --seconds 1 "$tmp/sample.kvd"
"$prefix/bin/kvdinfo" "$tmp/sample.kvd" >"$tmp/kvdinfo.out" || fail "installed kvdinfo failed"
grep -q '^entities ' "$tmp/kvdinfo.out" || fail "installed kvdinfo printed no entities"

expect_host_output() {
  grep -q '^analog entity .* samples in V:' "$1" || { cat "$1" >&2; fail "$2: no analog samples"; }
}

# The C host as the example writes it, <nsKVDLibrary/nsAPItypes.h>, and as Neuroshare hosts write it,
# "nsAPItypes.h", each built through pkg-config (and the linker's -lnsKVDLibrary) and through
# find_package(nsKVDLibrary) and the imported target.
neuroshare=$tmp/neuroshare-host
mkdir "$neuroshare"
cp "$src/examples/CMakeLists.txt" "$src/examples/array_host.c" "$neuroshare/"
sed 's|^#include <nsKVDLibrary/nsAPItypes.h>$|#include "nsAPItypes.h"|' "$src/examples/example_host.c" \
  >"$neuroshare/example_host.c"
grep -q '^#include "nsAPItypes.h"$' "$neuroshare/example_host.c" ||
  fail "the example host does not include <nsKVDLibrary/nsAPItypes.h>"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion nsKVDLibrary)" = "$(sed -n 's/^Version: //p' "$libdir/pkgconfig/nsKVDLibrary.pc")" ]
for host in "$src/examples" "$neuroshare"; do
  name=$(basename "$host")
  cc -std=c99 -Wall -Wextra -Werror "$host/example_host.c" $(pkg-config --cflags --libs nsKVDLibrary) \
     -o "$tmp/$name-pkgconfig"
  LD_LIBRARY_PATH=$libdir "$tmp/$name-pkgconfig" "$tmp/sample.kvd" >"$tmp/$name-pkgconfig.out"
  expect_host_output "$tmp/$name-pkgconfig.out" "$name, pkg-config build"

  cmake -S "$host" -B "$tmp/$name-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$tmp/cmake.log" ||
    { cat "$tmp/cmake.log" >&2; fail "configuring $name failed"; }
  cmake --build "$tmp/$name-build" >>"$tmp/cmake.log" || { cat "$tmp/cmake.log" >&2; fail "building $name failed"; }
  "$tmp/$name-build/example_host" "$tmp/sample.kvd" >"$tmp/$name-find_package.out"
  expect_host_output "$tmp/$name-find_package.out" "$name, find_package build"
done
# The array interface's host, built through find_package above, reads a window of every channel.
"$tmp/examples-build/array_host" "$tmp/sample.kvd" 0.5 0.1 >"$tmp/array_host.out" &&
  grep -q '^frames 12500 to 14999 of elec0001, in V:' "$tmp/array_host.out" ||
  { cat "$tmp/array_host.out" >&2; fail "the array host read no window"; }

# A host that loads the library by its soname, as Python's ctypes does.
LD_LIBRARY_PATH=$libdir python3 -c 'import ctypes; ctypes.CDLL("nsKVDLibrary.so.1").ns_GetLibraryInfo' ||
  fail "dlopen(\"nsKVDLibrary.so.1\") failed"
# After ldconfig the loader finds the library by its soname alone: without LD_LIBRARY_PATH, the host
# linked with -lnsKVDLibrary runs and dlopen("nsKVDLibrary.so.1") succeeds. The system's cache stays
# untouched: a cache that also lists the prefix replaces it in a private mount namespace, where root
# may make one (elsewhere this part is left out).
if unshare -m true 2>/dev/null; then
  echo "$libdir" >"$tmp/ld.so.conf"
  "$ldconfig" -f "$tmp/ld.so.conf" -C "$tmp/system.cache" 2>/dev/null
  unshare -m sh -c 'mount --bind "$1" /etc/ld.so.cache &&
                    env -u LD_LIBRARY_PATH "$2" "$3" >/dev/null &&
                    env -u LD_LIBRARY_PATH python3 -c "import ctypes; ctypes.CDLL(\"nsKVDLibrary.so.1\")"' \
    sh "$tmp/system.cache" "$tmp/examples-pkgconfig" "$tmp/sample.kvd" ||
    fail "after ldconfig the soname alone does not find the library"
else
  echo "install test: no private mount namespace here; the system cache part is left out" >&2
fi
# The Python package, installed into the interpreter's site-packages folder under the prefix, finds the
# library installed with it (no KVD_LIBRARY, no LD_LIBRARY_PATH) and reads the sample.
if [ -n "$python" ]; then
  [ -f "$prefix/$sitedir_rel/kvd/__init__.py" ] || fail "no Python package in $sitedir_rel"
  (cd "$tmp" && env -u KVD_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$prefix/$sitedir_rel" "$python" -c '
import sys, kvd
assert kvd.library_path == sys.argv[1], kvd.library_path
with kvd.open("sample.kvd") as rec:
    assert rec.stream("elec0001").read(0, 10).shape == (10, 60)' "$libdir/nsKVDLibrary.so.1") ||
    fail "the installed Python package does not read the sample"
fi
echo "install test: passed"
