#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what it needs, runs the
# C++ engine tests, builds the one cp38-abi3 wheel and runs pytest against it
# on every supported CPython (3.8 to 3.13), then the robustness stages that fit
# in CI: the suite under development mode, the suite and the engine tests
# under ASan+UBSan, and a short fuzzing run. scripts/check_all.sh adds the
# debug interpreter with CPython's leak hunter, a fuzzing run of any length
# and the largest inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

FUZZ_SECONDS="${FUZZ_SECONDS:-60}"

install_system_packages
stage "C++ engine tests" run_engine_tests
stage "one abi3 wheel on CPython ${SUPPORTED_PYTHONS[*]}, and in development mode" run_version_matrix
stage "pytest under ASan+UBSan" run_sanitized_suite
stage "C++ engine tests under ASan+UBSan" run_sanitized_engine_tests
stage "build the fuzzer" build_fuzzer
stage "fuzz for ${FUZZ_SECONDS} s" run_fuzzer "$FUZZ_SECONDS"
