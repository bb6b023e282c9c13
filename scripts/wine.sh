#!/usr/bin/env bash
# scripts/wine.sh PROGRAM [ARGS...]: runs a Windows program under wine in the
# project's own prefix (WINEPREFIX, by default build/wineprefix).
#
# These machines run no 32-bit Linux code (the kernel has no IA-32 emulation),
# so wine's 32-bit loader cannot start: programs run under the 64-bit loader,
# and the tests use the x86-64 builds of the same sources.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No prompts to install wine's Mono or Gecko into the prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINELOADER=/usr/lib/wine/wine64
exec "$WINELOADER" "$@"
