#!/usr/bin/env bash
# The main job from a fresh Debian machine: makes sure a C++ compiler and the
# Python headers are there, builds morvanex and its command into a virtual
# environment (only when the sources changed since the last build) and runs a
# scoring session (`morvanex train`) from the current directory.
#
#   scripts/run_example.sh [train options]     e.g. --words my-words.txt
#   scripts/run_example.sh --help              the options of morvanex train
#
# Environment: PYTHON (default python3) creates the environment, VENV (default
# .venv in the repository) is where it lives.  An existing environment is
# used as it is, with whatever else you installed into it.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
venv="${VENV:-$repo/.venv}"
stamp="$venv/.morvanex-sources"

say() { echo "run_example.sh: $*" >&2; }

# Debian packages that building needs, installed only when missing.
install_missing_packages() {
    local version missing=()
    version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
    command -v g++ >/dev/null || missing+=(g++)
    "$python" -c 'import ensurepip' 2>/dev/null || missing+=("python$version-venv")
    "$python" -c 'import os, sys, sysconfig; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' \
        || missing+=("python$version-dev")
    if ((${#missing[@]})); then
        say "installing Debian packages: ${missing[*]}"
        local sudo=""
        [[ $(id -u) -eq 0 ]] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# One hash of everything the built module depends on.
sources_hash() {
    (cd "$repo" && find src CMakeLists.txt pyproject.toml -type f -print0 | LC_ALL=C sort -z \
        | xargs -0 sha256sum | sha256sum | cut -d' ' -f1)
}

install_missing_packages

if [[ ! -x "$venv/bin/python" ]]; then
    say "creating the virtual environment $venv with $python"
    "$python" -m venv "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
fi

hash="$(sources_hash)"
if [[ "$(cat "$stamp" 2>/dev/null)" == "$hash" ]] && "$venv/bin/python" -c 'import morvanex, morvanex_tools' 2>/dev/null; then
    say "morvanex in $venv is up to date with the sources"
else
    say "building morvanex and installing it into $venv (a minute or two the first time) ..."
    started=$SECONDS
    (cd "$repo" && "$venv/bin/python" -m pip install -q .)
    echo "$hash" >"$stamp"
    say "built and installed in $((SECONDS - started)) s"
fi

say "running morvanex train $*"
exec "$venv/bin/morvanex" train "$@"
