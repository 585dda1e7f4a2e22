#!/usr/bin/env bash
# One wheel for every supported CPython: builds the cp38-abi3 wheel once (with
# CPython 3.11), audits it with abi3audit --strict, installs that same file
# into a fresh virtual environment of each CPython from 3.8 to 3.13 and runs
# the whole pytest suite in each.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
run_version_matrix
