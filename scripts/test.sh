#!/usr/bin/env bash
# Builds plume and its tests in build/ and runs the whole test suite.
# First checks that the same source cross-compiles for Windows (build-windows/,
# MinGW-w64); PLUME_WINDOWS_CHECK=0 leaves that out.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
if [ "${PLUME_WINDOWS_CHECK:-1}" = 1 ]; then
  echo "== Windows cross build (build-windows/)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows
fi
cmake --workflow --preset default
