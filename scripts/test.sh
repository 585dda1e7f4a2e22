#!/usr/bin/env bash
# The whole test suite, as CI runs it, from a fresh machine (it installs what
# it needs); the stages are described by `bash scripts/check.sh --list`.
set -euo pipefail
exec bash "$(dirname "$0")/check.sh" \
    engine engine-clang engine-tsan \
    wheels versions \
    sanitize sanitize-engine fuzz
