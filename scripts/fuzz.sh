#!/usr/bin/env bash
# Fuzzes the scoring engine with libFuzzer (ASan+UBSan): the fast scorer
# against the literal one, bit for bit, and the driver's update rule.
#   bash scripts/fuzz.sh [SECONDS] [libFuzzer options...]
# SECONDS defaults to 60. New inputs are kept in build/fuzz/corpus, a crashing
# input is written to build/fuzz/crash-*; the committed seeds are fuzz/corpus.
# A long run in the background, on one core:
#   nohup bash scripts/fuzz.sh 1800 > build/fuzz-long.log 2>&1 &
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

seconds="${1:-60}"
shift || true
stage "build the fuzzer" build_fuzzer
stage "fuzz for ${seconds} s" run_fuzzer "$seconds" "$@"
