#!/usr/bin/env bash
# Runs a cross-built test tree under Wine: one Wine launch per test program.
#
#   run_wine_tests.sh BUILD_DIR [CTEST_ARGS...]
#
# The Wine prefix lives in BUILD_DIR/wine-prefix (or $WINEPREFIX).  Before the
# tests the registry gets the reservation the registry test reads back:
#   HKLM\SOFTWARE\Halvern\Halvern TEMBRO Player\Params
#   TotalKiloBytesReserved = REG_DWORD 1024
# (in the 64-bit and the 32-bit view, so both DLLs find it).
set -euo pipefail
build_dir=$(cd "${1:?usage: run_wine_tests.sh BUILD_DIR [CTEST_ARGS...]}" && pwd)
shift
reserved_kb=1024
key='HKLM\SOFTWARE\Halvern\Halvern TEMBRO Player\Params'

command -v wine >/dev/null || { echo "wine is not installed" >&2; exit 2; }
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}  # no runtime installers
export ORVIK_EXPECT_RESERVED_KB=$reserved_kb
unset DISPLAY  # console programs only

# One wine server for every launch below, ended when the script ends.
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "Wine: $(wine --version), prefix $WINEPREFIX"
wineboot --init >/dev/null 2>&1 || true
wine reg add "$key" /v TotalKiloBytesReserved /t REG_DWORD /d "$reserved_kb" /f /reg:64 >/dev/null
if [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] &&
  wine reg add "$key" /v TotalKiloBytesReserved /t REG_DWORD /d "$reserved_kb" /f /reg:32 \
    >/dev/null 2>&1; then
  echo "Registry: TotalKiloBytesReserved = $reserved_kb (64-bit and 32-bit views)"
else
  echo "Registry: TotalKiloBytesReserved = $reserved_kb (64-bit view)"
fi

ctest --test-dir "$build_dir" --output-on-failure --timeout 600 "$@"
