#!/usr/bin/env bash
# liborvik.so exports exactly the 50 functions of orvik.h that orvik.dll
# exports (src/api/exports.def) and the POSIX additions declared in
# orvik/posix.h (the host event helpers, the version query): no name
# missing, nothing else (no internal or standard-library symbol).
set -euo pipefail
export LC_ALL=C
build_dir=$1
source_dir=$2
library=$(find "$build_dir/src" -maxdepth 1 -name 'liborvik.so.*.*.*' -type f | head -n 1)
[ -n "$library" ] || { echo "liborvik.so not built"; exit 1; }

windows_names=$(awk '/^EXPORTS/ {on = 1; next} on && NF && $1 !~ /^;/ {print $1}' \
  "$source_dir/src/api/exports.def" | sort -u)
posix_names=$(grep -ohE 'ORVIK_CALL \*?[A-Za-z0-9_]+\(' "$source_dir/include/orvik/posix.h" |
  sed -E 's/ORVIK_CALL \*?//; s/\($//' | sort -u)
header_names=$(grep -ohE 'ORVIK_CALL \*?[A-Za-z0-9_]+\(' "$source_dir/include/orvik/orvik.h" |
  sed -E 's/ORVIK_CALL \*?//; s/\($//' | sort -u)
expected=$(printf '%s\n%s\n' "$windows_names" "$posix_names" | sort -u)
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWDBRV]$/ {print $3}' | sort -u)

status=0
[ "$(wc -l <<<"$windows_names")" -eq 50 ] ||
  { echo "exports.def lists $(wc -l <<<"$windows_names") names, not 50"; status=1; }
[ "$windows_names" = "$header_names" ] ||
  { echo "exports.def and orvik.h differ:"; diff <(echo "$windows_names") <(echo "$header_names") || true; status=1; }
while read -r name; do
  echo "exported but not declared: $name"
  status=1
done < <(comm -13 <(echo "$expected") <(echo "$exported"))
while read -r name; do
  echo "declared but not exported: $name"
  status=1
done < <(comm -23 <(echo "$expected") <(echo "$exported"))
echo "$(wc -l <<<"$exported") exported names: the 50 of orvik.h and" \
  "$(wc -l <<<"$posix_names") of orvik/posix.h: $([ $status -eq 0 ] && echo yes || echo no)"
exit $status
