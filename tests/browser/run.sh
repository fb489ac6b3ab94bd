#!/usr/bin/env bash
# The page of `orvik gui` in a real browser: node's test runner, with
# playwright-core (tests/browser/package-lock.json, `npm ci`) driving
# Debian's Chromium headless.  Run by CTest as `browser`; skipped (exit 77)
# with the reason when node, Chromium or the installed package is missing
# (tests/browser/setup.sh installs them; .ci/run calls it and sets
# ORVIK_BROWSER_TESTS_REQUIRED=1, which makes a missing piece a failure).
#   run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
here=$source_dir/tests/browser

# Skipped where a piece is missing, unless the run requires them (CI).
skip() {
  echo "browser tests skipped: $*"
  [ "${ORVIK_BROWSER_TESTS_REQUIRED:-0}" = 1 ] && exit 1
  exit 77
}
command -v node >/dev/null || skip "node is not installed (tests/browser/setup.sh installs it)"
node_major=$(node -p 'process.versions.node.split(".")[0]')
[ "$node_major" -ge 20 ] || skip "node $node_major is older than playwright-core needs (20)"
[ -x "${ORVIK_CHROMIUM:-/usr/bin/chromium}" ] || skip "no Chromium at ${ORVIK_CHROMIUM:-/usr/bin/chromium} (apt-get install chromium)"
[ -d "$here/node_modules/playwright-core" ] || skip "playwright-core is not installed (cd tests/browser && npm ci)"
[ -x "$build_dir/tools/orvik" ] || skip "the tool is not built ($build_dir/tools/orvik)"

export ORVIK_TOOL="$build_dir/tools/orvik"
export ORVIK_SOURCE_DIR="$source_dir"
export ORVIK_SCREENSHOTS="$build_dir/browser-screenshots"
mkdir -p "$ORVIK_SCREENSHOTS"
cd "$here"
exec node --test --test-concurrency=1 "$here"/*.test.mjs
