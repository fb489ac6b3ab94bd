#!/usr/bin/env bash
# `cmake --install` into a scratch prefix gives a host what it needs: the
# library with its SONAME and links, the headers, the CMake package,
# orvik.pc, the tool and its manual page.  The installed headers compile as
# strict C99 with and without the old unprefixed names, and a program linked
# against the installed library finds the version it was compiled with.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
lib=$prefix/lib
fail() { echo "$*"; exit 1; }

# A relative prefix, as a person types it: orvik.pc must still name it in full.
(cd "$work" && cmake --install "$build_dir" --prefix prefix >install.log) ||
  { cat "$work/install.log"; exit 1; }

for file in lib/liborvik.so.1.0.0 include/orvik/orvik.h include/orvik/posix.h \
  include/orvik/version.h lib/cmake/orvik/orvikConfig.cmake \
  lib/cmake/orvik/orvikConfigVersion.cmake lib/cmake/orvik/orvikTargets.cmake \
  lib/pkgconfig/orvik.pc bin/orvik bin/orvik-sim share/man/man1/orvik.1.gz; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
[ "$(readlink "$lib/liborvik.so.1")" = liborvik.so.1.0.0 ] || fail "liborvik.so.1 is no link to 1.0.0"
[ "$(readlink "$lib/liborvik.so")" = liborvik.so.1 ] || fail "liborvik.so is no link to .so.1"
readelf -d "$lib/liborvik.so.1.0.0" | grep -q 'SONAME.*\[liborvik\.so\.1\]' ||
  fail "SONAME is not liborvik.so.1: $(readelf -d "$lib/liborvik.so.1.0.0" | grep SONAME)"
flags=$(PKG_CONFIG_PATH=$lib/pkgconfig pkg-config --cflags --libs orvik | sed 's/ *$//')
[ "$flags" = "-I$prefix/include -L$lib -lorvik" ] || fail "pkg-config answered: $flags"
zcat "$prefix/share/man/man1/orvik.1.gz" | grep -q 'reflash' || fail "the manual page lacks the commands"

# Every old name stands for its ORVIK_ name unless the host opts out.
legacy=(DEFAULT_CHIP_ID CHIP_MODEL_EARLY CHIP_MODEL_LATER CHIP_REPLY_LATER FLASH_TYPE_UNKNOWN
  MAX_FILES FILE_KIND_RAW FILE_KIND_SREC)
{
  echo '#include <orvik/posix.h>'
  echo '#include <stdio.h>'
  for name in "${legacy[@]}"; do
    echo "#if defined(ORVIK_NO_LEGACY_NAMES) && defined($name)"
    echo "#error $name is defined with ORVIK_NO_LEGACY_NAMES"
    echo "#elif !defined(ORVIK_NO_LEGACY_NAMES) && $name != ORVIK_$name"
    echo "#error $name is not ORVIK_$name"
    echo "#endif"
  done
  cat <<'PROGRAM'
int main(void) {
  ORVIK_ULONG loaded = OrvikPosixLibraryVersion();
  printf("headers %s (0x%06lx), library 0x%06lx\n", ORVIK_VERSION,
         (unsigned long)ORVIK_VERSION_NUMBER, (unsigned long)loaded);
  return loaded == ORVIK_VERSION_NUMBER ? 0 : 1;
}
PROGRAM
} >"$work/names.c"
# A sanitizer build's library brings its run-time; this program does not load it first.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
for define in "" -DORVIK_NO_LEGACY_NAMES; do
  cc -std=c99 -pedantic -Wall -Wextra -Werror $define -I"$prefix/include" "$work/names.c" \
    -L"$lib" -lorvik -o "$work/names"
  LD_LIBRARY_PATH=$lib "$work/names" || fail "the installed library is not the headers' version"
done
echo "installed: library, links, SONAME, headers, CMake package, orvik.pc, tool, manual page"
