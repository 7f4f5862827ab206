# Installs the Debian packages the project needs, only those that are missing, so
# that a machine set up once needs no network afterwards. Sourced by ./test.sh and
# ./run.sh.

NASFINDER_BUILD_PACKAGES="g++ make cmake pkg-config libboost-dev libboost-thread-dev libboost-system-dev
  libboost-date-time-dev nlohmann-json3-dev qt6-base-dev qt6-qpa-plugins fonts-noto-cjk fonts-dejavu-core libcap2-bin"
# ./run.sh --setup: what the README's sandbox recipes need beside the build
# (tools/lan-sandbox and its device simulator, xvfb-run for the window).
NASFINDER_SANDBOX_PACKAGES="python3 iproute2 xvfb xauth"
# ninja-build: ./test.sh and tools/package.sh build with Ninja, which keeps both
# cores busier than make does (BENCHMARKS.md, The test suite).
# prometheus brings promtool, which checks the metrics the scan writes and the
# example alert rules; its own service is not started (see below).
NASFINDER_TEST_PACKAGES="ninja-build clang llvm-14 libclang-rt-14-dev libgtest-dev libbenchmark-dev $NASFINDER_SANDBOX_PACKAGES
  procps util-linux imagemagick nftables at-spi2-core python3-pyatspi dbus-x11 xdotool prometheus"
# tools/package.sh: the Debian package build and the checks of its result (which
# installs nasfinder-common in a throwaway root: adduser and debconf for its
# maintainer scripts; systemd-analyze and setfacl for the exporter's unit).
NASFINDER_PACKAGE_PACKAGES="ninja-build debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream man-db adduser debconf
  systemd acl"

nasfinder_missing_packages() {
  local pkg missing=""
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing="$missing $pkg"
    fi
  done
  echo "$missing"
}

nasfinder_install_packages() {
  local missing
  # shellcheck disable=SC2086
  missing=$(nasfinder_missing_packages $*)
  [ -z "${missing// /}" ] && return 0
  echo "Installing:$missing" >&2
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "error: missing packages:$missing (run as root or install sudo)" >&2
      return 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A fresh machine has empty package lists; fill them before installing.
  $sudo apt-get update -q
  # Tools such as prometheus come with a service that their installation
  # would start: policy-rc.d refuses every start while they install, and goes
  # again afterwards unless it was there before.
  local policy=/usr/sbin/policy-rc.d placed="" status=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# nasfinder_install_packages: no service starts while test tools install\nexit 101\n' |
      $sudo tee "$policy" >/dev/null && $sudo chmod 0755 "$policy" && placed=1
  fi
  # shellcheck disable=SC2086
  $sudo apt-get install -y -q $missing || status=$?
  if [ -n "$placed" ]; then
    $sudo rm -f "$policy"
  fi
  return $status
}
