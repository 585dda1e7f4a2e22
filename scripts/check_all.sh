#!/usr/bin/env bash
# Every check: what CI runs (scripts/test.sh), then Debian's debug interpreter
# with CPython's leak hunter and the largest inputs. For a long fuzzing run:
#   FUZZ_SECONDS=1800 bash scripts/check_all.sh
set -euo pipefail
bash "$(dirname "$0")/test.sh"
exec bash "$(dirname "$0")/check.sh" debug-interpreter large-inputs
