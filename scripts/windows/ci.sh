#!/usr/bin/env bash
# The Windows part of CI: cross builds with mingw-w64, the DLLs' export
# tables, and the test programs under Wine.
#
#  1. installs what is missing (when root): mingw-w64 (posix threads), Debian's
#     GoogleTest sources, Wine;
#  2. builds orvik.dll and the Windows test programs for 64-bit Windows;
#  3. builds orvik.dll for 32-bit Windows (and its test programs when a
#     32-bit Wine is there to run them);
#  4. checks both export tables against include/orvik/orvik.h;
#  5. runs the test programs under Wine, one launch per program;
#  6. builds orvik.exe (the host tool with its simulated player, linked with
#     libgcrypt, whose DLLs are copied beside it) once tools/ has sources, and
#     runs a few commands on a simulated player under Wine, the check of the
#     signed sample set among them, and `orvik gui` (scripts/windows/
#     gui_under_wine.sh), its page and the player's state fetched with curl.
#
# ORVIK_WINE32: 1 installs the 32-bit Wine (i386 packages) and runs the 32-bit
# tests, 0 never runs them, auto (the default) runs them when it is installed.
# ORVIK_WINDOWS_TOOL: 1 (the default) builds orvik.exe and runs it (a failure
# fails); auto builds it unless sources of the simulator or the tool use
# POSIX-only interfaces (they are named and the step is reported as not
# done); 0 leaves it out.
# ORVIK_EXPORTS_MAY_BE_MISSING=1 lets exports that are not written yet pass
# the export check (they are still listed).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/packages.sh
start=$(date +%s)
step() { echo; echo "=== windows: $* ($(($(date +%s) - start))s)"; }
failures=()
not_done=()

wine32=${ORVIK_WINE32:-auto}
have_tools() { [ -n "$(find tools -name '*.cpp' -print -quit 2>/dev/null)" ]; }
have_wine32() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; }

step "packages"
packages=(cmake ninja-build curl g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 googletest wine wine64)
have_tools && packages+=(nlohmann-json3-dev libcli11-dev libfmt-dev libboost1.81-dev
  libgcrypt-mingw-w64-dev)
ensure_packages "${packages[@]}"
# A 32-bit Wine needs a kernel that runs 32-bit programs (IA-32 emulation).
# Some virtual machines' kernels do not: there the 32-bit Wine cannot start,
# and once installed it would take `wine` over from the 64-bit one.  The
# probe is the smallest 32-bit program, a call of exit(0).
kernel_runs_32bit() {
  local probe status=0
  probe=$(mktemp)
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return $status
}
# The i386 packages must be the very versions of their amd64 twins.  An
# index caught half-synced by its mirror leaves the i386 side without the
# security updates the amd64 side has: then both sides are taken from the
# release itself (-t CODENAME).  A few tries, a while apart, get past a
# mirror in the middle of its sync.
install_wine32() {
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  dpkg --add-architecture i386
  for try in 1 2 3; do
    apt-get update -qq || true
    if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      wine32:i386 ||
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -t "$codename" wine32:i386 libgstreamer-plugins-base1.0-0:i386; then
      return 0
    fi
    echo "wine32:i386 not installed (try $try of 3); trying again in $((try * 30)) s"
    sleep $((try * 30))
  done
  return 1
}
if [ "$wine32" = 1 ] && ! have_wine32; then
  if ! kernel_runs_32bit; then
    echo "This machine's kernel does not run 32-bit programs: no 32-bit Wine is installed."
    not_done+=("32-bit tests under Wine (this machine's kernel runs no 32-bit programs)")
    wine32=0
  elif [ "$(id -u)" -eq 0 ]; then
    install_wine32 || { echo "could not install wine32:i386" >&2; exit 1; }
  else
    echo "ORVIK_WINE32=1 needs root to install wine32:i386" >&2
    exit 1
  fi
fi
tool=${ORVIK_WINDOWS_TOOL:-1}
run32=false
if [ "$wine32" != 0 ] && have_wine32 && kernel_runs_32bit; then run32=true; fi

step "64-bit Windows: orvik.dll and the test programs"
cmake --preset win64
cmake --build --preset win64

step "32-bit Windows: orvik.dll$($run32 && echo " and the test programs")"
cmake --preset win32
if $run32; then
  cmake --build --preset win32
else
  cmake --build --preset win32-dll
fi

step "export tables"
for dll in build-win64/src/orvik.dll build-win32/src/orvik.dll; do
  scripts/windows/check_exports.sh "$dll" || failures+=("exports of $dll")
done

step "64-bit test programs under Wine"
scripts/windows/run_wine_tests.sh build-win64 || failures+=("64-bit tests under Wine")
if $run32; then
  step "32-bit test programs under Wine"
  # The 64-bit prefix runs 32-bit programs too; its registry has both views.
  WINEPREFIX=$PWD/build-win64/wine-prefix scripts/windows/run_wine_tests.sh build-win32 ||
    failures+=("32-bit tests under Wine")
else
  echo "(32-bit tests not run: no 32-bit Wine; ORVIK_WINE32=1 installs it)"
fi

# Sources of the Windows tool build (simulator and tool) that use what
# Windows does not have; while there are any, orvik.exe cannot be built.
posix_only_tool_sources() {
  grep -o '"file": "[^"]*"' build-win64-tools/compile_commands.json | cut -d'"' -f4 |
    grep -E '/(sim|tools)/' | sort -u |
    xargs -r grep -lE '#include <(poll|termios)\.h>|#include <sys/(socket|un|mman|wait|ioctl)\.h>|[^_[:alnum:]](setenv|unsetenv|fork|mkdtemp)[[:space:]]*\(' ||
    true
}

if have_tools && [ "$tool" != 0 ]; then
  step "orvik.exe, the host tool, with a simulated player under Wine"
  cmake --preset win64-tools
  blockers=$(posix_only_tool_sources)
  if [ -n "$blockers" ] && [ "$tool" != 1 ]; then
    echo "orvik.exe NOT BUILT: these sources of the simulator and the tool use POSIX-only"
    echo "interfaces (sockets, poll, setenv...) and need a Windows branch or exclusion:"
    sed "s|^$PWD/|  |" <<<"$blockers"
    not_done+=("orvik.exe (POSIX-only sources in sim/ or tools/)")
  elif cmake --build --preset win64-tools; then
    exe=$(find build-win64-tools/tools -maxdepth 1 -name 'orvik.exe' | head -n 1)
    player=build-win64-tools/wine-player
    rm -rf "$player"
    # The sample set is signed with the test key in samples/keys: checked
    # (libgcrypt's DLLs beside orvik.exe) before it is written.
    trust="--trust-dir samples/keys"
    for command in "sim create" "info" "blocks" "quick-format" "reserve 2048" \
      "$trust manifest verify --manifest samples/firmware/manifest.json" \
      "$trust reflash --manifest samples/firmware/manifest.json" \
      "$trust versions --manifest samples/firmware/manifest.json"; do
      # --yes: the destructive commands would ask, and there is no terminal.
      # Exit 2 is "nothing to do" (versions of an up-to-date player).
      status=0
      # shellcheck disable=SC2086 # the command is words
      WINEPREFIX=$PWD/build-win64/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
        wine "$exe" --player "$player" --color never --yes $command >"$player.log" 2>&1 ||
        status=$?
      if [ "$status" -eq 0 ] || [ "$status" -eq 2 ]; then
        echo "orvik $command: done"
      else
        cat "$player.log"
        failures+=("orvik.exe $command under Wine")
      fi
    done
    # orvik gui under Wine, its page fetched from this side (Winsock on
    # Wine is the host's sockets, so 127.0.0.1 is the same address).
    if scripts/windows/gui_under_wine.sh "$exe" "$player"; then
      echo "orvik gui: served the page and the player's state"
    else
      failures+=("orvik.exe gui under Wine")
    fi
  else
    failures+=("orvik.exe build")
  fi
fi

step "done"
if [ ${#not_done[@]} -gt 0 ]; then
  printf 'Not done: %s\n' "${not_done[@]}"
fi
if [ ${#failures[@]} -gt 0 ]; then
  printf 'Windows checks failed: %s\n' "${failures[@]}"
  exit 1
fi
echo "Windows checks passed"
