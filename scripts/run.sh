#!/usr/bin/env bash
# PIV ZONA12 set-up and jobs for a Debian 12 machine where the user is root.
#   scripts/run.sh demo   install what is missing, build, run the three extractions on
#                         a demo installation and print where the reports are
#   scripts/run.sh test   install what is missing, build, run every test; then the core's
#                         tests again, built with AddressSanitizer and UndefinedBehavior-
#                         Sanitizer in build-asan
#   scripts/run.sh gui    open the desktop program on the demo installation (after demo)
#   scripts/run.sh windows-demo
#                         the demo with the Windows programs: install what is missing,
#                         cross-build with mingw-w64 into build-windows, run the three
#                         extractions under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(build-essential cmake pkg-config libxml2-dev libxml2-utils libxslt1-dev
  libsqlite3-dev sqlite3 libfmt-dev nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev
  qt6-base-dev qt6-webengine-dev xvfb xauth)

# The cross build for Windows and Wine; windows-deps.sh builds the libraries from these.
windows_packages=(mingw-w64 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix wine wine64 tcl dpkg-dev
  googletest nlohmann-json3-dev libcli11-dev cmake pkg-config libxml2-utils)

install_missing() {  # install_missing [PACKAGE...]: the given packages, default the project's
  local missing=()
  (($#)) || set -- "${packages[@]}"
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

build_windows() {  # build_windows DIR [TARGET...]: the x86_64 Windows cross build (all targets by default)
  local dir=$1; shift
  install_missing "${windows_packages[@]}"
  bash scripts/windows-deps.sh x86_64 >/dev/null
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-toolchain.cmake -DPIVZONA12_WIN_ARCH=x86_64 \
    -DPIVZONA12_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
}

case "${1:-}" in
  demo)
    install_missing
    build build
    exec bash scripts/demo.sh build
    ;;
  test)
    install_missing
    build build
    (cd build && ctest --output-on-failure -j"$(nproc)")
    # -O1 without debug information keeps the instrumented build quick.
    build build-asan -DPIVZONA12_SANITIZE=ON -DPIVZONA12_GUI=OFF -DCMAKE_BUILD_TYPE=Sanitize \
      -DCMAKE_CXX_FLAGS_SANITIZE=-O1 -DCMAKE_C_FLAGS_SANITIZE=-O1
    (cd build-asan && ctest --output-on-failure -j"$(nproc)")
    ;;
  gui)
    exec bash scripts/demo.sh build --gui
    ;;
  windows-demo)
    build_windows build-windows praxilo-demo praxilo-server praxiapi pivzona12-cli
    exec bash scripts/demo.sh build-windows --windows
    ;;
  *)
    echo "usage: scripts/run.sh demo|test|gui|windows-demo" >&2
    exit 64
    ;;
esac
