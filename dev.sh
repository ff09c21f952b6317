#!/usr/bin/env bash
# Set-up and everyday commands: installs missing Debian packages, configures, builds, and runs
# the tour or the tests.
#   ./dev.sh tour    install what is missing, build, run `zok tour`
#   ./dev.sh test    install what is missing, build, run the tests (labels unit and accuracy)
#   ./dev.sh build   install what is missing and build
# BUILD_DIR (default build) and CMAKE_ARGS (extra configure arguments) may be set.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ git libopenblas-dev liblapack-dev libgtest-dev libgmock-dev
          libbenchmark-dev libmpfr-dev libmpc-dev libsleef-dev python3 python3-mpmath binutils
          python3-dev python3-numpy python3-pytest pybind11-dev librandom123-dev libgsl-dev python3-scipy
          libboost-dev libopenmpi-dev openmpi-bin python3-mpi4py)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

BUILD_DIR=${BUILD_DIR:-build}
build() {
  install_missing
  # shellcheck disable=SC2086
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON ${CMAKE_ARGS:-}
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

case "${1:-tour}" in
  tour)
    build
    "$BUILD_DIR/apps/zok/zok" tour
    ;;
  test)
    build
    ctest --test-dir "$BUILD_DIR" -j "$(nproc)" -LE slow --output-on-failure
    python3 tools/code_size.py
    ;;
  build)
    build
    ;;
  *)
    echo "usage: $0 [tour|test|build]" >&2
    exit 2
    ;;
esac
