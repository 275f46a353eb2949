#!/usr/bin/env bash
# The README's demo: builds plume-steady (preset "default", in build/), runs
# it on the shipped example case (examples/) in a fresh folder run-demo/ and
# renders the converged plume into run-demo/pictures/.
#
#   tools/demo.sh            the steady solution by plume-steady (a few minutes)
#   tools/demo.sh --iterate  the first 20,000 plume iterations instead (preset
#                            "demo", build-demo/); Ctrl+C stops the run early
#                            and the fields it saved are drawn
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mode="${1:-steady}"
case "$mode" in
  steady|--iterate) ;;
  *) echo "usage: tools/demo.sh [--iterate]" >&2; exit 64 ;;
esac

PLUME_WINDOWS_CHECK=0 tools/deps.sh
rundir="$root/run-demo"
rm -rf "$rundir"
mkdir -p "$rundir"
cp -R examples/. "$rundir/"

if [ "$mode" = steady ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target plume-steady plume
  echo "Running build/plume-steady in $rundir ..."
  status=0
  (cd "$rundir" && "$root/build/plume-steady" </dev/null) || status=$?
  case $status in
    0) state="steady solution" ;;
    3) state="steady solution, unverified" ;;
    *) echo "plume-steady ended with status $status" >&2; exit "$status" ;;
  esac
  tools/plume-pictures "$rundir" --state "$state"
else
  cmake --preset demo >/dev/null
  cmake --build --preset demo
  echo "Running build-demo/plume in $rundir (at most 20,000 iterations) ..."
  status=0
  (cd "$rundir" && "$root/build-demo/plume" </dev/null) || status=$?
  case $status in
    0) ;;
    130|143) echo "Run interrupted; drawing the fields it saved." ;;
    *) echo "plume ended with status $status" >&2; exit "$status" ;;
  esac
  tools/plume-pictures "$rundir"
fi
echo "Pictures: $rundir/pictures/"
