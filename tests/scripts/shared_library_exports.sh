#!/usr/bin/env bash
# The shared library exports only the functions its public headers declare:
# the Orvik exports and the POSIX event helpers, nothing else.
set -euo pipefail
build_dir=$1
source_dir=$2
library=$(find "$build_dir/src" -maxdepth 1 -name 'liborvik.so*' -type f | head -n 1)
[ -n "$library" ] || { echo "liborvik.so not built"; exit 1; }

declared=$(grep -ohE 'ORVIK_CALL \*?[A-Za-z0-9_]+\(' "$source_dir"/include/orvik/*.h |
  sed -E 's/ORVIK_CALL \*?//; s/\($//' | sort -u)
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWDBR]$/ {print $3}' | sort -u)

status=0
for name in $exported; do
  if ! grep -qx "$name" <<<"$declared"; then
    echo "exported but not declared in the public headers: $name"
    status=1
  fi
done
count=$(wc -w <<<"$exported")
echo "$count exported names, all declared: $([ $status -eq 0 ] && echo yes || echo no)"
exit $status
