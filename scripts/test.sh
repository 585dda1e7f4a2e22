#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what it needs, runs the
# C++ engine tests, builds and installs the wheel into a virtual environment
# and runs pytest against it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
stage "C++ engine tests" run_engine_tests
stage "wheel and pytest" run_pytest_suite
