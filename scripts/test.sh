#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test in the plain,
# ASan+UBSan and ThreadSanitizer configurations.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# The Windows builds first: the plain configuration runs them under wine.
bash scripts/build.sh win32
bash scripts/build.sh win64

for config in plain asan tsan; do
  echo "== $config"
  bash scripts/build.sh "$config"
  ctest --test-dir "build/$config" --output-on-failure --no-tests=ignore -j "$(nproc)"
done
