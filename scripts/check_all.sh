#!/usr/bin/env bash
# Every check: what CI runs (scripts/test.sh), then the stages that only
# `--all` adds (`bash scripts/check.sh --list` names them). For a long fuzzing
# run: FUZZ_SECONDS=1800 bash scripts/check_all.sh
set -euo pipefail
exec bash "$(dirname "$0")/check.sh" --all
