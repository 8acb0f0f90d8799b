# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages a command needs when they are missing. Sourced by the scripts.

# Building and running the program; the plots draw with Qt Charts (which needs Qt OpenGL's CMake
# files) and export SVG with Qt SVG; VXI-11 is ONC RPC over libtirpc, its interface compiled by
# rpcgen; the web page is served with Qt HTTP Server (whose CMake files need Qt WebSockets').
tq_program_packages=(cmake g++ ninja-build pkg-config qt6-base-dev libgl1-mesa-dev libusb-1.0-0-dev
  nlohmann-json3-dev libavahi-client-dev qt6-charts-dev libqt6opengl6-dev qt6-svg-dev libtirpc-dev
  rpcsvc-proto qt6-httpserver-dev qt6-websockets-dev)
# Building its Debian package besides: CPack's file type check and the library scan.
tq_package_packages=(file dpkg-dev)
# The tests, benchmarks and fuzzing besides: the test libraries, the Python driver's packages, a
# locale with a decimal comma, the Windows cross compiler for the portable code, and the checks of
# the package (lintian, AppStream, desktop entry); PyTango for the Tango device server; a private
# D-Bus and Avahi daemon, iproute2 and the browsers (avahi-browse, lxi discover) for the LAN
# discovery test in its network namespace; a portmapper (rpcbind) for the VXI-11 test in its own;
# headless Chromium driven by Selenium for the web page.
tq_test_packages=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  python3-pyvisa python3-pyvisa-py python3-pymeasure python3-pytest python3-tango procps
  dbus avahi-daemon avahi-utils iproute2 lxi-tools rpcbind chromium chromium-driver python3-selenium
  locales g++-mingw-w64-x86-64-posix lintian appstream desktop-file-utils "${tq_package_packages[@]}")

tq_ensure_packages() {  # package names...
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "$(basename "$0"): needs the Debian packages ${missing[*]}, and there is no sudo to install them: run it as root, or install sudo (as root: apt-get install sudo) and add yourself to the sudo group" >&2
      exit 1
    fi
    sudo="sudo"
  fi
  echo "Installing missing packages: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

tq_configure_and_build() {  # build dir, extra cmake arguments...
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
