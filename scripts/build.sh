#!/usr/bin/env bash
# Builds everything: the Windows programs (launcher, packaging tool, stand-in
# client, unit tests) with mingw-w64, and the Linux packaging tool. Progress
# goes to stderr; the one line on stdout is the build tree.
set -euo pipefail
. "$(dirname "$0")/common.sh"
"$repo/scripts/setup.sh" >&2
build_root=${VELMAR_BUILD_ROOT:-$(default_build_root)}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# A compiler cache, where there is one, makes a fresh build tree of a second
# checkout cost about what a rebuild of the changed files does.
compiler_launcher=()
command -v ccache >/dev/null &&
  compiler_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

configure() {  # dir, extra args...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$dir" "${generator[@]}" "${compiler_launcher[@]}" -DVELMAR_DEPS_DIR="$deps_dir" "$@" >&2
  fi
}
configure "$build_root/win" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake"
configure "$build_root/host"
cmake --build "$build_root/win" --parallel 2 >&2
cmake --build "$build_root/host" --parallel 2 >&2
# Wine runs as an unprivileged user, which must read what was built.
chmod -R a+rX "$build_root" "$repo/dist" 2>/dev/null || true
echo "$build_root"
