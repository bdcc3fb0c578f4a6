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
#                         under Wine; then, in a virtual machine that runs 32-bit code
#                         (scripts/vm32.sh; its image built once, outside the clone), the
#                         i686 build under 32-bit Wine: the in-process session and the
#                         logging library's calling conventions, the demo on a small
#                         practice against the Linux one, the 32-bit set-up program
#   scripts/run.sh windows32-test
#                         install what is missing, build what it needs, and run in that
#                         virtual machine the whole 32-bit set: the tests of what differs
#                         between the builds (the session with the server in-process and
#                         as a local server, the logging library's calling conventions,
#                         the registry's views), the demo on the standard practice against
#                         the Linux one, the 32-bit set-up program
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
  googletest clang-format qemu-system-x86 mmdebstrap e2fsprogs)

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

build() {  # build DIR [cmake options...] [--target TARGET...]: everything, or the targets named
  local dir=$1 options=() targets=()
  shift
  while (($#)); do
    if [[ $1 == --target ]]; then
      targets=(--target "${@:2}")
      break
    fi
    options+=("$1")
    shift
  done
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
  cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
}

# windows_build ARCH DIR [cmake options...]: the dependencies (cached outside the clone),
# then the build.
windows_build() {
  local arch=$1 dir=$2
  shift 2
  bash scripts/windows-deps.sh "$arch" >/dev/null
  build "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-toolchain.cmake -DPIVZONA12_WIN_ARCH="$arch" "$@"
}

# The i686 programs, built with warnings as errors; their test programs only when named
# (they run in the virtual machine only, and only those of what differs between the builds).
# No set-up program of their own: the x86_64 build's holds them beside its own.
i686_build() {  # i686_build [--target TARGET...]
  windows_build i686 build-windows-i686 -DPIVZONA12_TESTS_IN_ALL=OFF -DPIVZONA12_INSTALLER=OFF \
    -DPIVZONA12_WERROR=ON "$@"
}
x86_64_build() {  # x86_64_build [--target TARGET...]
  windows_build x86_64 build-windows -DPIVZONA12_I686_BUILD="$root/build-windows-i686" "$@"
}

windows_test() {  # both Windows builds; the x86_64 suite under Wine, one wineserver for the run
  # The 32-bit programs first: the x86_64 build's set-up program holds them beside its own.
  i686_build
  x86_64_build
  bash scripts/wine-run.sh --start
  local status=0
  (cd build-windows && ctest --output-on-failure -j"$(nproc)") || status=$?
  bash scripts/wine-run.sh --stop
  return "$status"
}

# The i686 test programs that run in the virtual machine: by run.sh test (ci), by
# run.sh windows32-test (full).
guest32_tests_ci=(px_wrap_log_test praxilo_com_test integration_px_wrap_praxipat_test)
guest32_tests_full=("${guest32_tests_ci[@]}" praxilo_server_test registry_test)

# windows32_test ci|full: the i686 build under 32-bit Wine in the virtual machine of
# scripts/vm32.sh (tests/win32/guest32_test.sh inside). First the Linux demo on the same
# practice, whose reports the guest's must equal: 300 patients for ci, 2000 for full. The
# builds are those of run.sh test; what is missing is built here.
windows32_test() {
  local mode=$1 patients=300 tests=("${guest32_tests_ci[@]}") limit=2400
  if [[ $mode == full ]]; then
    patients=2000
    tests=("${guest32_tests_full[@]}")
    limit=5400
  fi
  build build --target pivzona12-cli praxilo-demo praxilo-server praxiapi
  i686_build --target all "${tests[@]}"
  x86_64_build --target installer praxilo-demo praxilo-server praxilo-server-dll praxiapi
  local exchange=build-windows-i686/guest32
  rm -rf "$exchange"
  mkdir -p "$exchange"
  PIVZONA12_DEMO_PATIENTS=$patients PIVZONA12_DEMO_DIR=$exchange/linux bash scripts/demo.sh build >"$exchange/linux.out"
  echo "$patients" >"$exchange/linux/patients"
  bash scripts/vm32.sh run --timeout "$limit" tests/win32/guest32_test.sh "$mode"
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
    # Alone: the virtual machine needs both cores.
    windows32_test ci
    ;;
  gui)
    exec bash scripts/demo.sh build --gui
    ;;
  windows-demo)
    install_missing
    windows_build x86_64 build-windows
    exec bash scripts/demo.sh build-windows --windows
    ;;
  windows32-test)
    install_missing
    windows32_test full
    ;;
  windows-gui)
    install_missing
    windows_build x86_64 build-windows
    exec bash scripts/demo.sh build-windows --windows-gui
    ;;
  *)
    echo "usage: scripts/run.sh demo|test|gui|windows-demo|windows-gui|windows32-test" >&2
    exit 64
    ;;
esac
