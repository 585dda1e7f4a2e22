#!/usr/bin/env bash
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer over the
# module and the engine: builds the module with MORVANEX_SANITIZE=ON into its
# own venv and runs the whole pytest suite in an interpreter with the sanitizer
# runtimes preloaded (PYTHONMALLOC=malloc, leak detection on, suppressions in
# scripts/lsan.supp); child processes inherit the setup. Any report, from the
# suite or a child, fails the run. Then runs the C++ engine tests built with
# the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
stage "pytest under ASan+UBSan" run_sanitized_suite
stage "C++ engine tests under ASan+UBSan" run_sanitized_engine_tests
