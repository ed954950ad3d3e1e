#!/bin/sh
# Installs the Debian packages that the build, the tests and the demo need, if any of them is missing
# (`make deps`; `make demo`, `make test` and .ci/run call it first).
#
# Nothing missing: exits 0 at once, without apt-get (works offline). Something missing: as root, runs
# apt-get update once and installs the missing packages; otherwise prints the command that would install
# them and exits 1.
set -eu

# One package a line.
PACKAGES="
make
cmake
g++
libgtest-dev
libgmock-dev
libbenchmark-dev
libceres-dev
libunwind-dev
liblzma-dev
ngspice
gnuplot-nox
chromium
"

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "tools/deps.sh: no dpkg-query, so this is not a Debian system; install these yourself:" $PACKAGES
  exit 0
fi

missing=""
for package in $PACKAGES; do
  if ! dpkg-query -W -f='${db:Status-Status}\n' "$package" 2>/dev/null | grep -qx installed; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" = 0 ]; then
  echo "Installing the missing Debian packages:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  # shellcheck disable=SC2086 # one word per package
  apt-get install -y --no-install-recommends $missing
else
  echo "Missing Debian packages:$missing"
  echo "Install them as root, then run make again:"
  echo "  apt-get update && apt-get install -y --no-install-recommends$missing"
  exit 1
fi
