#!/usr/bin/env bash
# The main job from a fresh machine: installs morvanex into a virtual
# environment and runs a root/affix scoring session on the bundled word list.
# Extra arguments go to the example (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_system_packages
make_venv "$VENV" "$PYTHON" ""
"$VENV/bin/python" examples/score_vocabulary.py "$@"
