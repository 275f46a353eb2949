#!/usr/bin/env bash
# The README's demo: builds plume-steady (preset "default", in build/), runs
# it on the shipped example case (examples/) in a fresh folder and renders the
# converged plume into its pictures/ folder. Each mode has its own folder, so
# neither deletes the other's results.
#
#   scripts/demo.sh            the steady solution by plume-steady (a few
#                              minutes), in run-demo/
#   scripts/demo.sh --iterate  the first 20,000 plume iterations instead (preset
#                              "demo", build-demo/), in run-demo-iterate/; Ctrl+C
#                              stops the run early and the fields it saved are drawn
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mode="${1:-steady}"
case "$mode" in
  steady|--iterate) ;;
  *) echo "usage: scripts/demo.sh [--iterate]" >&2; exit 64 ;;
esac

PLUME_WINDOWS_CHECK=0 scripts/deps.sh
if [ "$mode" = steady ]; then rundir="$root/run-demo"; else rundir="$root/run-demo-iterate"; fi
rm -rf "$rundir"
mkdir -p "$rundir"
cp -R examples/. "$rundir/"

if [ "$mode" = steady ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target plume-steady plume
  echo "Running build/plume-steady in $rundir ..."
  status=0
  (cd "$rundir" && "$root/build/plume-steady" </dev/null) || status=$?
  # 3: solved but not verified; the pictures' titles say so.
  case $status in
    0|3) ;;
    *) echo "plume-steady ended with status $status" >&2; exit "$status" ;;
  esac
  tools/plume-pictures "$rundir"
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
