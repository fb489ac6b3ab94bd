# Debian packages of the project and a helper that installs missing ones.

# What building and testing needs.
ORVIK_TEST_PACKAGES=(
  cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcli11-dev libfmt-dev libgcrypt20-dev libboost1.81-dev dosfstools mtools
  srecord help2man groff-base pkgconf
)

# What the browser tests of `orvik gui` need beyond that (tests/browser/setup.sh;
# node and npm come from the machine when it has them, else from Debian).
ORVIK_BROWSER_PACKAGES=(chromium)

# What scripts/package-check needs beyond that: cpack's Debian generator
# (dpkg-shlibdeps from dpkg-dev, file).  It also installs lintian when it can.
ORVIK_PACKAGE_CHECK_PACKAGES=(
  "${ORVIK_TEST_PACKAGES[@]}" dpkg-dev file
)

# Installs the missing packages when running as root; otherwise names them
# and stops.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}
