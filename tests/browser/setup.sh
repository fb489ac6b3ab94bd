#!/usr/bin/env bash
# What the browser tests need: Debian's Chromium, node (20 or newer, with
# npm) and playwright-core as package-lock.json pins it.  `npm ci` installs
# the package only: it downloads no browser (the tests use /usr/bin/chromium).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/packages.sh
ensure_packages "${ORVIK_BROWSER_PACKAGES[@]}"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  ensure_packages nodejs npm
fi
echo "node $(node --version), npm $(npm --version), $(/usr/bin/chromium --version 2>/dev/null)"
cd tests/browser
npm ci --ignore-scripts --no-audit --no-fund
