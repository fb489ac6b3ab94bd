#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target, starting from its
# seed corpus in fuzz/corpus/<target>/: the device-answers target for
# SECONDS seconds (default 30), the parsers of host files, which are small
# and saturate quickly, for two thirds of that each.
# New inputs go to build-fuzz/corpus/, findings to build-fuzz/artifacts/.
# Any crash, sanitizer report or broken invariant fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
source scripts/lib/packages.sh
ensure_packages cmake ninja-build clang nlohmann-json3-dev libfmt-dev libgcrypt20-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

run_seconds() {
  if [ "$1" = device_answers_fuzz ]; then echo "$seconds"; else echo $((seconds * 2 / 3)); fi
}

# The targets are independent and each uses one core: they run side by side,
# as many at a time as there are cores, each into its own log, which is
# printed when it ends (its last lines, or all of it after a finding).
fuzz_target() {
  local target="$1" target_seconds work artifacts
  target_seconds="$(run_seconds "$target")"
  work="build-fuzz/corpus/$target"
  artifacts="build-fuzz/artifacts/$target"
  mkdir -p "$work" "$artifacts" "fuzz/corpus/$target"
  local status=0
  "build-fuzz/fuzz/$target" -max_total_time="$target_seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" \
    >"build-fuzz/logs/$target.log" 2>&1 || status=$?
  echo "$status" >"build-fuzz/logs/$target.status"
}

mkdir -p build-fuzz/logs
targets=()
for source in fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  echo "=== $target for $(run_seconds "$target")s"
  fuzz_target "$target" &
done
wait

failed=()
for target in "${targets[@]}"; do
  if [ "$(cat "build-fuzz/logs/$target.status")" = 0 ]; then
    echo "=== $target: no finding"
    tail -n 12 "build-fuzz/logs/$target.log"
  else
    failed+=("$target")
    echo "=== $target: FAILED"
    cat "build-fuzz/logs/$target.log"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
echo "All fuzz targets ran without a finding."
