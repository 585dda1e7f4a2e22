# Shared helpers for the project's scripts. Source it from the repository root.

PYTHON="${PYTHON:-python3}"
VENV="${VENV:-.venv}"
JOBS="${JOBS:-2}"

stage() {
    local name="$1"
    shift
    echo "=== ${name}"
    local start=$SECONDS
    "$@"
    echo "=== ${name}: done in $((SECONDS - start)) s"
}

# Debian packages the builds and tests use; installed only when missing.
install_system_packages() {
    local wanted=(g++ libgtest-dev "$@")
    local missing=()
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if ((${#missing[@]})); then
        local sudo=""
        [[ $(id -u) -eq 0 ]] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# A virtual environment with the project installed from this tree, with the
# optional dependencies named by $3 (none when empty).
make_venv() {
    local venv="$1" python="$2" extras="${3-test}"
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q ".${extras:+[$extras]}"
}

# CMake and Ninja recent enough for the stable-ABI module rules, from PyPI.
build_tools() {
    local tools="build/tools"
    if [[ ! -x "$tools/bin/cmake" ]]; then
        "$PYTHON" -m venv "$tools"
        "$tools/bin/python" -m pip install -q "cmake>=3.26" ninja
    fi
    export PATH="$PWD/$tools/bin:$PATH"
}

run_engine_tests() {
    build_tools
    cmake -S . -B build/engine-tests -G Ninja -DMORVANEX_BUILD_TESTS=ON >/dev/null
    cmake --build build/engine-tests -j "$JOBS"
    ctest --test-dir build/engine-tests --output-on-failure -j "$JOBS"
}

run_pytest_suite() {
    make_venv "$VENV" "$PYTHON" test
    # Run from outside the tree so that the installed module, not the source, is imported.
    (cd /tmp && "$OLDPWD/$VENV/bin/python" -m pytest "$OLDPWD/tests" -q -p no:cacheprovider)
}
