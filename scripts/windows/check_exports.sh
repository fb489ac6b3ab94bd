#!/usr/bin/env bash
# Checks the export table of orvik.dll against the public header.
#
#   check_exports.sh DLL [SOURCE_DIR]
#
# Reads the DLL's export table with the cross objdump (-p) and compares it
# with the functions that include/orvik/orvik.h declares, and with the list
# in src/api/exports.def: every declared name must be exported, nothing else
# may be, and no name may be decorated (no leading underscore, no @N suffix,
# no C++ mangling).  Every missing, extra or decorated name is printed.
#
# With ORVIK_EXPORTS_MAY_BE_MISSING=1 names that the library does not define
# yet are reported but do not fail the check (extra or decorated names
# still do).
set -euo pipefail
dll=${1:?usage: check_exports.sh DLL [SOURCE_DIR]}
source_dir=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
header=$source_dir/include/orvik/orvik.h
def_file=$source_dir/src/api/exports.def

[ -f "$dll" ] || { echo "no such DLL: $dll" >&2; exit 2; }

# The cross objdump of the DLL's machine reads its export table.
case "$(x86_64-w64-mingw32-objdump -f "$dll" 2>/dev/null)" in
  *pei-i386*) objdump=i686-w64-mingw32-objdump ;;
  *) objdump=x86_64-w64-mingw32-objdump ;;
esac

declared=$(grep -oE 'ORVIK_CALL \*?[A-Za-z0-9_]+\(' "$header" | sed -E 's/ORVIK_CALL \*?//; s/\($//' |
  sort -u)
listed=$(awk '/^EXPORTS/ {on = 1; next} on && NF && $1 !~ /^;/ {print $1}' "$def_file" | sort -u)
# The name table follows "[Ordinal/Name Pointer] Table" up to a blank line.
exported=$("$objdump" -p "$dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^[[:space:]]*$/ {on = 0}
       on && /\[ *[0-9]+\]/ {sub(/^[^\]]*\][[:space:]]*/, ""); print}' | sort -u)

declared_count=$(grep -c . <<<"$declared" || true)
exported_count=$(grep -c . <<<"$exported" || true)
echo "$(basename "$dll") ($("$objdump" -f "$dll" | awk '/architecture/ {print $2}' | tr -d ,)):" \
  "$exported_count names exported, $declared_count declared in orvik.h"

problems=0
missing=0
report() { echo "  $1: $2"; }

for name in $declared; do
  grep -qx "$name" <<<"$listed" || { report "declared but not in exports.def" "$name"; problems=1; }
done
for name in $listed; do
  grep -qx "$name" <<<"$declared" || { report "in exports.def but not declared" "$name"; problems=1; }
done
for name in $declared; do
  grep -qx "$name" <<<"$exported" || { report "missing" "$name"; missing=$((missing + 1)); }
done
for name in $exported; do
  if ! [[ $name =~ ^[A-Za-z][A-Za-z0-9]*$ ]]; then
    report "decorated" "$name"
    problems=1
  elif ! grep -qx "$name" <<<"$declared"; then
    report "exported but not declared" "$name"
    problems=1
  fi
done

if [ "$missing" -gt 0 ]; then
  echo "  $missing declared name(s) not exported"
  [ "${ORVIK_EXPORTS_MAY_BE_MISSING:-0}" = 1 ] || problems=1
fi
if [ "$problems" -eq 0 ] && [ "$missing" -eq 0 ]; then
  echo "  all $declared_count exports present, undecorated, nothing else exported"
fi
exit "$problems"
