#!/usr/bin/env bash
# Installs the Debian packages plume's build, tests and pictures need, when
# they are missing. Needs root (or sudo) only when something is missing.
set -euo pipefail
packages=(cmake g++ libgtest-dev libgmock-dev zlib1g-dev libfftw3-dev python3-matplotlib python3-numpy)
# plume-steady: PETSc with MUMPS, SLEPc, and an optimised BLAS for its factorisations.
packages+=(petsc-dev slepc-dev libopenblas0-openmp)
[ "${PLUME_WINDOWS_CHECK:-1}" = 1 ] && packages+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
