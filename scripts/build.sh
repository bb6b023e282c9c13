#!/usr/bin/env bash
# scripts/build.sh CONFIG: configures and builds build/CONFIG, where CONFIG is
# plain (optimised, with benchmarks), asan (ASan+UBSan), tsan (ThreadSanitizer,
# simulated kernel and driver only), or win32 / win64 (the user-mode deliverables
# cross-built with mingw-w64 as PE32 and PE32+ programs).
set -euo pipefail
cd "$(dirname "$0")/.."

config=${1:-plain}
case "$config" in
  plain) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOV_SANITIZE= -DZOV_BENCHMARKS=ON
                -DZOV_WINDOWS_BUILD="$PWD/build/win64" -DZOV_WIN32_BUILD="$PWD/build/win32") ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DZOV_SANITIZE=address -DZOV_BENCHMARKS=OFF) ;;
  tsan) flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DZOV_SANITIZE=thread -DZOV_BENCHMARKS=OFF) ;;
  win32) flags=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake) ;;
  win64) flags=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake) ;;
  *) echo "usage: $0 plain|asan|tsan|win32|win64" >&2; exit 2 ;;
esac

cmake -S . -B "build/$config" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$config" -j "$(nproc)"
