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

failed=()
for source in fuzz/*_fuzz.cpp; do
  target="$(basename "$source" .cpp)"
  target_seconds="$(run_seconds "$target")"
  work="build-fuzz/corpus/$target"
  artifacts="build-fuzz/artifacts/$target"
  mkdir -p "$work" "$artifacts" "fuzz/corpus/$target"
  echo "=== $target for ${target_seconds}s"
  if ! "build-fuzz/fuzz/$target" -max_total_time="$target_seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target"; then
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
echo "All fuzz targets ran without a finding."
