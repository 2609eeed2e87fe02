# Shared by the build scripts: paths, the compiler cache and the build helpers.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-$(nproc)}"

# Debian's ccache keeps compiled objects between runs and between clones
# (paths inside the tree are hashed relative to it), so a second run with
# nothing changed only links and tests.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=true
  # The test programs share a precompiled GoogleTest header: ccache caches
  # what uses it only when told that its defines and time macros may differ.
  export CCACHE_SLOPPINESS=pch_defines,time_macros
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Ninja: a build with nothing to do takes a second, not a make-tree walk,
# and it keeps both cores busy across targets.
generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi

# The checking builds (sanitizers, fuzzing, ThreadSanitizer) compile each
# folder's sources a few at a time as one unit: most of a file's compile
# time is the headers it shares with its neighbours. The builds that make
# what ships (native release, Windows, ARM) compile file by file; on
# Windows, <windows.h>'s macros (LoadImage) would reach neighbouring files.
UNITY=(-DCMAKE_UNITY_BUILD=ON)

# configure_and_build <build dir> [cmake options...] [-- build targets...]
configure_and_build() {
  local dir="$1"; shift
  local options=() targets=() t
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  for t in "$@"; do targets+=(--target "$t"); done
  # A folder configured for another generator or compiler is configured
  # afresh: CMake refuses to switch generators, and on a compiler switch it
  # drops every other option given. What it built stays in the compiler
  # cache.
  local compiler
  compiler="$(printf '%s\n' "${options[@]}" | sed -n 's/^-DCMAKE_CXX_COMPILER=//p')"
  if [ -f "$dir/CMakeCache.txt" ] &&
     { { [ ${#generator[@]} -gt 0 ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; } ||
       { [ -n "$compiler" ] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$(command -v "$compiler")" "$dir/CMakeCache.txt"; }; }; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  cmake -S "$ROOT" -B "$dir" "${generator[@]}" "${launcher[@]}" "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS" "${targets[@]}"
}

# build_fuzzers <build dir>: the libFuzzer targets only (clang, ASan/UBSan).
# The shipped modules' link checks expect the sanitizer runtimes inside each
# module, which clang keeps in the executable, so nothing else is built.
build_fuzzers() {
  configure_and_build "$1" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRUNE_FUZZ=ON -DKESTRUNE_TESTS=OFF -DKESTRUNE_BENCH=OFF "${UNITY[@]}" -- kestrune_fuzzers
}

# The release files for the other platforms, configured the same way by the
# main job (which builds what ships: scripts/run.sh) and the test command
# (which adds what its checks run), so the second finds the first's work done.
# Both take the native release build's presets, editor images and tools.
# windows_build [-- build targets...]: the Windows x64 modules and installer
# (MinGW-w64, build/win64) with the programs its tests run under Wine.
windows_build() {
  configure_and_build "$ROOT/build/win64" -DCMAKE_BUILD_TYPE=Release -DCMAKE_UNITY_BUILD=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DKESTRUNE_TESTS=ON -DKESTRUNE_BENCH=OFF -DKESTRUNE_PRESET_DIR="$ROOT/build/release/presets" \
    -DKESTRUNE_IMAGE_PACK_DIR="$ROOT/build/release/graphics/scaled-images" \
    -DKESTRUNE_LINUX_REFERENCE_TOOL="$ROOT/build/release/tests/win/kestrune-linux-reference" "$@"
}
# arm64_build [-- build targets...]: the 64-bit ARM Linux modules, tools and
# packages (build/arm64), with what ctest -L arm64 compares against the
# native build.
arm64_build() {
  configure_and_build "$ROOT/build/arm64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" -DKESTRUNE_BENCH=OFF \
    -DKESTRUNE_DRAWN_IMAGE_PACKS="$ROOT/build/release/graphics/scaled-images" \
    -DKESTRUNE_NATIVE_RENDER="$ROOT/build/release/tools/render/kestrune-render" "$@"
}
