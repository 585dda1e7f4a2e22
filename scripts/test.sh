#!/usr/bin/env bash
# The whole test suite, as CI runs it, from a fresh machine (it installs what
# it needs): the stages of scripts/check.sh's suite, which
# `bash scripts/check.sh --list` names and describes.
set -euo pipefail
exec bash "$(dirname "$0")/check.sh" --suite
