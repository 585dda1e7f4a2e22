#!/usr/bin/env bash
# The module on Debian's debug interpreter (python3.11-dbg: Py_DEBUG with its
# reference-count and object checks): builds the module against the debug
# headers into a venv of that interpreter, runs the whole pytest suite there,
# then CPython's reference-leak hunter (regrtest -R 3:3) over
# tests/refleak/test_refleak_hunt.py.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
stage "debug interpreter: suite and leak hunter" run_debug_interpreter_checks
