# Installs the Debian packages the build needs when they are missing. Sourced by the scripts.
tq_packages=(cmake g++ ninja-build pkg-config qt6-base-dev libgl1-mesa-dev libusb-1.0-0-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth clang libclang-rt-14-dev
  python3-pyvisa python3-pyvisa-py python3-pymeasure python3-pytest)

tq_ensure_packages() {
  local missing=()
  for p in "${tq_packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

tq_configure_and_build() {  # build dir, extra cmake arguments...
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
