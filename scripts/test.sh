#!/usr/bin/env bash
# Builds plume and its tests in build/ and runs the whole test suite, then
# lists every skipped test with its reason (ctest itself keeps the reasons in
# its log only). First checks that the same source cross-compiles for Windows
# (build-windows/, MinGW-w64); PLUME_WINDOWS_CHECK=0 leaves that out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [ "${PLUME_WINDOWS_CHECK:-1}" = 1 ]; then
  echo "== Windows cross build (build-windows/)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows
fi
status=0
cmake --workflow --preset default || status=$?
# A skip's reason is the text between GoogleTest's "file:line: Skipped" and
# its "[  SKIPPED ]" line.
awk '/^[0-9]+\/[0-9]+ Test: / { name = substr($0, index($0, ": ") + 2) }
     /: Skipped$/ { reason = ""; inside = 1; next }
     inside && /^\[  SKIPPED \]/ { print "Skipped: " name ": " reason; inside = 0; next }
     inside { reason = reason (reason == "" ? "" : " ") $0 }' \
  build/Testing/Temporary/LastTest.log 2>/dev/null || true
exit "$status"
