#!/usr/bin/env bash
# Builds plume and its tests in build/ and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake --workflow --preset default
