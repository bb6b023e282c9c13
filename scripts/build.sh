#!/usr/bin/env bash
# scripts/build.sh CONFIG: configures and builds build/CONFIG, where CONFIG is
# plain (optimised, with benchmarks), asan (ASan+UBSan) or tsan (ThreadSanitizer,
# simulated kernel and driver only).
set -euo pipefail
cd "$(dirname "$0")/.."

config=${1:-plain}
case "$config" in
  plain) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOV_SANITIZE= -DZOV_BENCHMARKS=ON) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DZOV_SANITIZE=address -DZOV_BENCHMARKS=OFF) ;;
  tsan) flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DZOV_SANITIZE=thread -DZOV_BENCHMARKS=OFF) ;;
  *) echo "usage: $0 plain|asan|tsan" >&2; exit 2 ;;
esac

cmake -S . -B "build/$config" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$config" -j "$(nproc)"
