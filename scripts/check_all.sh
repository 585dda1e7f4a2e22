#!/usr/bin/env bash
# Every robustness check, in one command (several minutes; the debug
# interpreter and the fuzzer add what their settings ask for):
#   bash scripts/check_all.sh
# Stages:
#   1. C++ engine tests (GoogleTest).
#   2. One cp38-abi3 wheel, audited with abi3audit --strict, installed into a
#      fresh venv of each CPython 3.8 to 3.13, whole pytest suite in each;
#      and the suite once more under development mode (python -X dev).
#   3. The suite under ASan, LeakSanitizer and UBSan (module built with
#      MORVANEX_SANITIZE=ON), then the engine tests built the same way.
#   4. Debian's debug interpreter python3.11-dbg: the suite, then CPython's
#      reference-leak hunter (regrtest -R 3:3) over tests/refleak.
#   5. libFuzzer over the engine for FUZZ_SECONDS (default 60; for the long
#      run, FUZZ_SECONDS=1800).
#   6. The largest inputs (benchmarks/large_inputs.py): times and peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

# Stages 1-3 and 5 are exactly what CI runs; the rest comes after them.
FUZZ_SECONDS="${FUZZ_SECONDS:-60}" bash scripts/test.sh
stage "debug interpreter: suite and leak hunter" run_debug_interpreter_checks
stage "largest inputs" "build/venvs/py$WHEEL_PYTHON_VERSION/bin/python" benchmarks/large_inputs.py
echo "all checks passed"
