#!/usr/bin/env bash
# PIV ZONA12 set-up and jobs for a Debian 12 machine where the user is root.
#   scripts/run.sh demo   install what is missing, build, run the three extractions on
#                         a demo installation and print where the reports are
#   scripts/run.sh test   install what is missing, check the sources' formatting
#                         (scripts/check-format.sh), build, run every test; then the core's
#                         tests again, built with AddressSanitizer and UndefinedBehavior-
#                         Sanitizer in build-asan; then the Windows cross builds (i686 in
#                         build-windows-i686, then x86_64 in build-windows, whose set-up
#                         program PIVZONA12-setup.exe holds both) and the x86_64 tests
#                         under Wine
#   scripts/run.sh gui    open the desktop program on the demo installation (after demo)
#   scripts/run.sh windows-demo
#                         the demo with the Windows programs: install what is missing,
#                         cross-build with mingw-w64 into build-windows, run the three
#                         extractions under Wine
#   scripts/run.sh windows-gui
#                         the Windows desktop program under Wine on a demo installation
#                         (needs a display)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(build-essential cmake pkg-config libxml2-dev libxml2-utils libxslt1-dev
  libsqlite3-dev sqlite3 libfmt-dev nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev
  qt6-base-dev qt6-webengine-dev qt6-pdf-dev qt6-translations-l10n qt6-l10n-tools poppler-utils xvfb xauth
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 fonts-wine nsis dpkg-dev tcl
  googletest clang-format)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
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

# windows_build ARCH DIR [cmake options...]: the dependencies (cached outside the clone),
# then the build.
windows_build() {
  local arch=$1 dir=$2
  shift 2
  bash scripts/windows-deps.sh "$arch" >/dev/null
  build "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-toolchain.cmake -DPIVZONA12_WIN_ARCH="$arch" "$@"
}

windows_test() {  # both Windows builds; the x86_64 suite under Wine, one wineserver for the run
  # The 32-bit programs first: the x86_64 build's set-up program holds them beside its own.
  # They are built with warnings as errors and checked in the set-up program (packing test),
  # not run: these machines run no 32-bit code, not even under Wine. No test programs, and
  # no set-up program of their own.
  windows_build i686 build-windows-i686 -DPIVZONA12_TESTS=OFF -DPIVZONA12_INSTALLER=OFF -DPIVZONA12_WERROR=ON
  windows_build x86_64 build-windows -DPIVZONA12_I686_BUILD="$root/build-windows-i686"
  bash scripts/wine-run.sh --start
  local status=0
  (cd build-windows && ctest --output-on-failure -j"$(nproc)") || status=$?
  bash scripts/wine-run.sh --stop
  return "$status"
}

case "${1:-}" in
  demo)
    install_missing
    build build
    exec bash scripts/demo.sh build
    ;;
  test)
    install_missing
    bash scripts/check-format.sh
    build build
    (cd build && ctest --output-on-failure -j"$(nproc)")
    # -O1 without debug information keeps the instrumented build quick.
    build build-asan -DPIVZONA12_SANITIZE=ON -DPIVZONA12_GUI=OFF -DCMAKE_BUILD_TYPE=Sanitize \
      -DCMAKE_CXX_FLAGS_SANITIZE=-O1 -DCMAKE_C_FLAGS_SANITIZE=-O1
    (cd build-asan && ctest --output-on-failure -j"$(nproc)")
    windows_test
    ;;
  gui)
    exec bash scripts/demo.sh build --gui
    ;;
  windows-demo)
    install_missing
    windows_build x86_64 build-windows
    exec bash scripts/demo.sh build-windows --windows
    ;;
  windows-gui)
    install_missing
    windows_build x86_64 build-windows
    exec bash scripts/demo.sh build-windows --windows-gui
    ;;
  *)
    echo "usage: scripts/run.sh demo|test|gui|windows-demo|windows-gui" >&2
    exit 64
    ;;
esac
