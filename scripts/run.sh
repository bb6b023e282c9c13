#!/usr/bin/env bash
# Installs what is missing, builds, and runs scriptgen on the bundled example:
# two formats and the concatenation of two labels.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh plain >/dev/null
build/plain/filters/scriptgen/scriptgen <examples/two-formats-concat.txt
