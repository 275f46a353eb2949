#!/usr/bin/env bash
# Builds plume with a 20,000-iteration limit (preset "demo", in build-demo/),
# runs the shipped example case (examples/) in a fresh folder run-demo/ and
# renders its pictures into run-demo/pictures/.
#
# Ctrl+C stops the run early: plume saves the fields of the iteration it was
# in, and the pictures are drawn from those.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

PLUME_WINDOWS_CHECK=0 tools/deps.sh
cmake --preset demo >/dev/null
cmake --build --preset demo

rundir="$root/run-demo"
rm -rf "$rundir"
mkdir -p "$rundir"
cp -R examples/. "$rundir/"

echo "Running build-demo/plume in $rundir (at most 20,000 iterations) ..."
status=0
(cd "$rundir" && "$root/build-demo/plume" </dev/null) || status=$?
case $status in
  0) ;;
  130|143) echo "Run interrupted; drawing the fields it saved." ;;
  *) echo "plume ended with status $status" >&2; exit "$status" ;;
esac

tools/plume-pictures "$rundir"
echo "Pictures: $rundir/pictures/"
