#!/bin/sh
# Installs and builds what the Windows cross-build needs (`make deps-windows`; .ci/run calls it):
#   - the Debian packages: mingw-w64 (POSIX threads), wine64 for the tests, zip, Eigen, GoogleTest sources,
#     dpkg-dev (to unpack a source package);
#   - Ceres Solver for mingw, built from Debian's ceres-solver source package with its own minimal logging
#     (miniglog) and Eigen only: no SuiteSparse, LAPACK, gflags or glog, no tests or examples;
#   - GoogleTest and GoogleMock for mingw, from /usr/src/googletest.
# Everything is built into a cache folder outside the source tree, ${TUBEFIT_WIN_CACHE:-$HOME/.cache/tubefit-win},
# and reused when present. The source package comes through a private apt configuration under the cache
# (its own sources.list with a deb-src line, its own lists and cache); the system's apt sources are not touched.
set -eu

CACHE=${TUBEFIT_WIN_CACHE:-$HOME/.cache/tubefit-win}
SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
TOOLCHAIN="$SRC_DIR/cmake/mingw-w64-x86_64.cmake"
PREFIX="$CACHE/prefix"
JOBS=${JOBS:-2}

PACKAGES="
make
cmake
g++-mingw-w64-x86-64-posix
wine64
zip
libeigen3-dev
googletest
dpkg-dev
"

missing=""
for package in $PACKAGES; do
  if ! dpkg-query -W -f='${db:Status-Status}\n' "$package" 2>/dev/null | grep -qx installed; then
    missing="$missing $package"
  fi
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "Installing the missing Debian packages:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    # shellcheck disable=SC2086 # one word per package
    apt-get install -y --no-install-recommends $missing
  else
    echo "Missing Debian packages:$missing"
    echo "Install them as root, then run make deps-windows again:"
    echo "  apt-get update && apt-get install -y --no-install-recommends$missing"
    exit 1
  fi
fi

mkdir -p "$CACHE"

# GoogleTest and GoogleMock for mingw.
if [ ! -f "$PREFIX/lib/libgtest.a" ] || [ ! -f "$PREFIX/lib/libgmock.a" ]; then
  echo "Building GoogleTest for mingw into $PREFIX"
  rm -rf "$CACHE/build-gtest"
  cmake -S /usr/src/googletest -B "$CACHE/build-gtest" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$CACHE/build-gtest" -j "$JOBS"
  cmake --install "$CACHE/build-gtest" >/dev/null
  rm -rf "$CACHE/build-gtest"
fi

# Ceres Solver's source, through the private apt configuration.
# The stamp names the build options: a cache built with other options is built again.
CERES_STAMP="$PREFIX/ceres-miniglog-fatal.stamp"
if [ ! -f "$PREFIX/lib/libceres.a" ] || [ ! -f "$CERES_STAMP" ]; then
  APT="$CACHE/apt"
  mkdir -p "$APT/lists/partial" "$APT/archives/partial" "$APT/sources"
  cat >"$APT/sources.list" <<EOF
deb-src http://deb.debian.org/debian bookworm main
EOF
  set -- -o Dir::Etc::SourceList="$APT/sources.list" -o Dir::Etc::SourceParts="$APT/sources" \
    -o Dir::State="$APT" -o Dir::State::Lists="$APT/lists" -o Dir::State::status=/var/lib/dpkg/status \
    -o Dir::Cache="$APT" -o Dir::Cache::archives="$APT/archives" -o Debug::NoLocking=1 \
    -o APT::Sandbox::User=root
  if ! ls "$CACHE"/ceres-solver-*/CMakeLists.txt >/dev/null 2>&1; then
    echo "Fetching Debian's ceres-solver source package into $CACHE"
    apt-get "$@" update
    (cd "$CACHE" && apt-get "$@" source ceres-solver)
  fi
  CERES_SRC=$(ls -d "$CACHE"/ceres-solver-*/ | head -n 1)
  echo "Building Ceres Solver for mingw from $CERES_SRC (several minutes)"
  rm -rf "$CACHE/build-ceres"
  # Miniglog logs fatal errors only (level -3), as the Linux build sets glog's minloglevel.
  # Only the dense solvers are used, so the Schur specialisations are left out (a much shorter build).
  cmake -S "$CERES_SRC" -B "$CACHE/build-ceres" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF \
    -DMINIGLOG=ON -DMINIGLOG_MAX_LOG_LEVEL=-3 -DGFLAGS=OFF -DSUITESPARSE=OFF -DCXSPARSE=OFF -DLAPACK=OFF -DACCELERATESPARSE=OFF \
    -DSCHUR_SPECIALIZATIONS=OFF -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF -DBUILD_BENCHMARKS=OFF \
    -DBUILD_DOCUMENTATION=OFF -DPROVIDE_UNINSTALL_TARGET=OFF -DEigen3_DIR=/usr/share/eigen3/cmake \
    -DCMAKE_CXX_FLAGS="-ffp-contract=off" >"$CACHE/ceres-configure.log"
  cmake --build "$CACHE/build-ceres" -j "$JOBS"
  cmake --install "$CACHE/build-ceres" >/dev/null
  # The licence text goes into the Windows zip.
  cp "$CERES_SRC/LICENSE" "$PREFIX/LICENSE-ceres-solver.txt"
  rm -rf "$CACHE/build-ceres"
  touch "$CERES_STAMP"
fi
echo "Windows cross-build dependencies ready in $PREFIX"
