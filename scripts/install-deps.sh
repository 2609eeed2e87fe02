#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrune builds and tests with.
# Idempotent: packages already present are skipped. Works as root or through sudo.
set -euo pipefail

# The browser test's npm packages (tests/browser), exactly as its
# package-lock.json pins them, once the Debian packages are in: installed
# here, so the test itself needs no network.
install_browser_test_modules() {
  local dir
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/browser" && pwd)"
  if [ ! -f "$dir/node_modules/.package-lock.json" ] ||
     ! cmp -s <(sed -n '/"node_modules\//,$p' "$dir/package-lock.json") \
               <(sed -n '/"node_modules\//,$p' "$dir/node_modules/.package-lock.json"); then
    echo "install-deps: npm ci in tests/browser"
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}
trap '[ $? -ne 0 ] || install_browser_test_modules' EXIT

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev zlib1g-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libsndfile1-dev libflac-dev libsoxr-dev sox
  juce-modules-source
  g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 xvfb xauth
  libx11-dev libxext-dev libxtst-dev x11-utils
  clang libclang-rt-14-dev
  # The web page: WebAssembly from clang 19 with wasi-libc and libc++ for
  # wasm32-wasi (web/); its browser test: chromium driven by playwright-core
  # from npm (tests/browser), with Debian's node and npm unless another node
  # (with its own npm) is there.
  clang-19 lld-19 wasi-libc libc++-19-dev-wasm32 libc++abi-19-dev-wasm32 libclang-rt-19-dev-wasm32
  chromium $(command -v npm >/dev/null 2>&1 || echo nodejs npm)
  nsis python3
  # The render tests measure a child's peak memory with GNU time.
  time
  lintian
  # bench/true-peak-vs-ffmpeg.sh and bench/loudness-vs-ffmpeg.sh compare with
  # ffmpeg's ebur128 filter and compute exact peaks with numpy.
  ffmpeg python3-numpy
  ccache
  ardour lilv-utils jalv sordi lv2-dev liblilv-dev
  jackd2
  dpf-source zam-plugins
  # The 64-bit ARM Linux cross-build (cmake/aarch64-linux-gnu.cmake): Debian's
  # cross compiler, the arm64 libraries the modules, the editor and
  # kestrune-render link, and qemu-aarch64 to run its tests.
  gcc-aarch64-linux-gnu g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user
  libx11-dev:arm64 libxext-dev:arm64 libpng-dev:arm64 zlib1g-dev:arm64
  libfreetype-dev:arm64 libfontconfig-dev:arm64 lv2-dev:arm64 liblilv-dev:arm64
  libsndfile1-dev:arm64 libflac-dev:arm64 libsoxr-dev:arm64 libgtest-dev:arm64
)

# One query for all of them: name:architecture of each installed package.
native="$(dpkg --print-architecture)"
installed=" $(dpkg-query -W -f='${db:Status-Status}/${Package}:${Architecture}\n' "${packages[@]}" 2>/dev/null |
  sed -n 's|^installed/||p' | tr '\n' ' ') "
missing=()
for p in "${packages[@]}"; do
  case "$p" in
    *:*) [[ "$installed" == *" $p "* ]] || missing+=("$p") ;;
    *) [[ "$installed" == *" $p:$native "* || "$installed" == *" $p:all "* ]] || missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
# The arm64 packages need the architecture known to dpkg (once).
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${SUDO[@]}" dpkg --add-architecture arm64
fi
# Through env: sudo drops the caller's environment, and jackd2 would stop
# to ask about realtime priority.
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
