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


# --- Robustness checks: interpreters, sanitizers, debug interpreter, fuzzing --

SUPPORTED_PYTHONS=(3.8 3.9 3.10 3.11 3.12 3.13)
# The interpreter that builds the one abi3 wheel.
WHEEL_PYTHON_VERSION="${WHEEL_PYTHON_VERSION:-3.11}"

# Path of CPython X.Y: the newest pyenv build of it, else pythonX.Y on PATH.
python_for() {
    local version="$1" root="${PYENV_ROOT:-$HOME/.pyenv}" candidate
    candidate=$(ls -d "$root/versions/$version".*/bin/python 2>/dev/null | sort -V | tail -n 1 || true)
    if [[ -n "$candidate" && -x "$candidate" ]]; then
        echo "$candidate"
    elif command -v "python$version" >/dev/null; then
        command -v "python$version"
    else
        echo "CPython $version is not installed" >&2
        return 1
    fi
}

# Installs Python tools into the tools environment (build/tools).
tool_install() {
    build_tools
    build/tools/bin/python -m pip install -qq "$@"
}

# Builds the one cp38-abi3 wheel into $1 and prints its path.
build_abi3_wheel() {
    local out="$1" python
    python=$(python_for "$WHEEL_PYTHON_VERSION")
    rm -rf "$out"
    mkdir -p "$out"
    "$python" -m pip wheel . --no-deps -qq -w "$out" -C build-dir=build/abi3-wheel >&2
    local wheels=("$out"/morvanex-*-cp38-abi3-*.whl)
    [[ ${#wheels[@]} -eq 1 && -f "${wheels[0]}" ]] || { echo "expected one cp38-abi3 wheel in $out" >&2; return 1; }
    echo "${wheels[0]}"
}

# abi3audit --strict: every symbol the wheel's module imports belongs to the
# stable ABI of CPython 3.8.
audit_abi3_wheel() {
    tool_install abi3audit
    build/tools/bin/abi3audit --strict --report "$1"
}

# A fresh virtual environment for CPython $1 at $2 with wheel $3 installed and
# the test dependencies: the wheel's "test" extras where they install on that
# version, else pytest and hypothesis alone.
make_wheel_venv() {
    local version="$1" venv="$2" wheel="$3" python
    python=$(python_for "$version")
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install -qq --upgrade pip
    if ! "$venv/bin/python" -m pip install -qq "${wheel}[test]" 2>"$venv/extras.log"; then
        echo "  (test extras do not install on CPython $version; using pytest and hypothesis only)"
        "$venv/bin/python" -m pip install -qq "$wheel" pytest hypothesis
    fi
}

# Runs the pytest suite with interpreter $1 (extra pytest arguments follow),
# from outside the tree so that the installed module is the one imported.
run_suite_with() {
    local python="$1"
    shift
    local root="$PWD"
    (cd /tmp && "$python" -m pytest "$root/tests" -q -p no:cacheprovider "$@")
}

# The same wheel file installed into a fresh venv of every supported CPython,
# with the whole suite run in each, and once more in development mode (see
# run_dev_mode_suite). MATRIX_JOBS runs go at a time (the suite is one process
# per run), each into its own log, printed in order.
MATRIX_JOBS="${MATRIX_JOBS:-$JOBS}"
DEV_MODE_RUN="dev-mode"

run_version_matrix() {
    local wheel run status=0
    local runs=("${SUPPORTED_PYTHONS[@]}" "$DEV_MODE_RUN")
    wheel=$(build_abi3_wheel build/dist)
    echo "wheel: $wheel"
    audit_abi3_wheel "$wheel"
    mkdir -p build/logs
    printf '%s\n' "${runs[@]}" |
        xargs -P "$MATRIX_JOBS" -I{} bash -c 'source scripts/lib.sh && run_one_version_logged "$1" "$2"' _ {} "$wheel" ||
        status=1
    for run in "${runs[@]}"; do
        echo "=== $run"
        cat "build/logs/$run.log"
    done
    return "$status"
}

run_one_version_logged() {
    local run="$1" wheel="$2" log="build/logs/$1.log" start=$SECONDS status=0
    if [[ "$run" == "$DEV_MODE_RUN" ]]; then
        run_dev_mode_suite "$wheel" >"$log" 2>&1 || status=$?
    else
        run_one_version "$run" "$wheel" >"$log" 2>&1 || status=$?
    fi
    echo "$run: $( ((status == 0)) && echo passed || echo FAILED) in $((SECONDS - start)) s" | tee -a "$log"
    return "$status"
}

run_one_version() {
    local version="$1" wheel="$2" venv="build/venvs/py$1"
    make_wheel_venv "$version" "$venv" "$wheel"
    "$venv/bin/python" -c 'import sys, morvanex; print("CPython", sys.version.split()[0], "imports", morvanex.__file__)'
    run_suite_with "$PWD/$venv/bin/python"
}

# The suite under Python's development mode (-X dev: debug hooks on the memory
# allocators, faulthandler, warnings shown), on CPython 3.11 with wheel $1
# (built here when not given).
run_dev_mode_suite() {
    local wheel="${1:-}" venv="build/venvs/py$WHEEL_PYTHON_VERSION-dev" root="$PWD"
    [[ -n "$wheel" ]] || wheel=$(build_abi3_wheel build/dist)
    make_wheel_venv "$WHEEL_PYTHON_VERSION" "$venv" "$wheel"
    (cd /tmp && "$root/$venv/bin/python" -X dev -c 'import sys; assert sys.flags.dev_mode; print("development mode on")' &&
        "$root/$venv/bin/python" -X dev -m pytest "$root/tests" -q -p no:cacheprovider)
}

# --- sanitizers

SANITIZE_VENV="build/venvs/sanitize"
SANITIZE_REPORTS="build/sanitize-reports"

# Environment for running the sanitized module inside an uninstrumented
# interpreter: the runtimes preloaded, Python's own allocator replaced by
# malloc so that every object is tracked, every report written to a file of
# its own under $SANITIZE_REPORTS (subprocesses included) and fatal.
sanitizer_env() {
    local reports="$PWD/$SANITIZE_REPORTS"
    SANITIZER_ENV=(
        "LD_PRELOAD=$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
        "PYTHONMALLOC=malloc"
        "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1:log_path=$reports/asan"
        "LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
    )
}

# Fails, printing them, if the sanitizers wrote any report.
check_sanitizer_reports() {
    local reports=("$SANITIZE_REPORTS"/*)
    if [[ -e "${reports[0]}" ]]; then
        echo "sanitizer reports:" >&2
        for report in "${reports[@]}"; do
            echo "--- $report" >&2
            cat "$report" >&2
        done
        return 1
    fi
    echo "no sanitizer reports"
}

# Tests left out under the sanitizers, each with its reason (node ids are
# relative to the repository root).
SANITIZER_DESELECT=(
    # It limits the address space with RLIMIT_AS to make an allocation fail;
    # ASan reserves terabytes of address space for its shadow memory and
    # reports a failed operator new instead of throwing std::bad_alloc. (The
    # suite's own memory-exhaustion tests skip themselves under ASan.)
    "tests/test_errors.py::test_exhausted_memory_raises_memory_error_and_the_interpreter_goes_on"
    # Its dask worker processes now and then end with an object of the
    # interpreter's (232 bytes from its GC allocator) held by a worker thread
    # that the interpreter abandons at exit, which LeakSanitizer reports. The
    # workers make the same calls as the in-process tests.
    "tests/test_dask_recipe.py"
)

# The module built with MORVANEX_SANITIZE=ON (with debug information, not
# stripped) into its own venv, and the whole suite run under ASan and UBSan.
run_sanitized_suite() {
    local python
    python=$(python_for "$WHEEL_PYTHON_VERSION")
    "$python" -m venv --clear "$SANITIZE_VENV"
    "$SANITIZE_VENV/bin/python" -m pip install -qq --upgrade pip
    MORVANEX_SANITIZE=ON "$SANITIZE_VENV/bin/python" -m pip install -qq ".[test]" \
        -C build-dir=build/sanitize -C cmake.build-type=RelWithDebInfo -C install.strip=false
    rm -rf "$SANITIZE_REPORTS"
    mkdir -p "$SANITIZE_REPORTS"
    sanitizer_env
    local status=0
    env "${SANITIZER_ENV[@]}" "$SANITIZE_VENV/bin/python" -c 'import morvanex' || status=$?
    local deselect=() item
    for item in "${SANITIZER_DESELECT[@]}"; do
        echo "left out under the sanitizers: $item"
        deselect+=(--deselect "$item")
    done
    if ((status == 0)); then
        (cd /tmp && env "${SANITIZER_ENV[@]}" "$OLDPWD/$SANITIZE_VENV/bin/python" -m pytest "$OLDPWD/tests" \
            -q -p no:cacheprovider "${deselect[@]}") || status=$?
    fi
    check_sanitizer_reports || status=1
    return "$status"
}

# The C++ engine tests built with MORVANEX_SANITIZE=ON.
run_sanitized_engine_tests() {
    build_tools
    cmake -S . -B build/engine-tests-sanitize -G Ninja -DMORVANEX_BUILD_TESTS=ON -DMORVANEX_SANITIZE=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build/engine-tests-sanitize -j "$JOBS"
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build/engine-tests-sanitize --output-on-failure -j "$JOBS"
}

# --- debug interpreter (Debian's python3.11-dbg: Py_DEBUG, Py_REF_DEBUG)

DEBUG_VENV="build/venvs/debug-interpreter"

# The module compiled against the debug interpreter's headers, the suite run
# on that interpreter (its reference-count and object checks are active), and
# CPython's reference-leak hunter over tests/refleak.
run_debug_interpreter_checks() {
    install_system_packages python3.11-dbg libpython3.11-dbg python3.11-dev python3.11-venv
    python3.11-dbg -m venv --clear "$DEBUG_VENV"
    "$DEBUG_VENV/bin/python" -m pip install -qq --upgrade pip
    "$DEBUG_VENV/bin/python" -m pip install -qq . pytest hypothesis \
        -C build-dir=build/debug-interpreter -C cmake.build-type=Debug
    "$DEBUG_VENV/bin/python" -c 'import sys, morvanex; assert hasattr(sys, "gettotalrefcount"); print(sys.version.split()[0], "debug build,", morvanex.__file__)'
    run_suite_with "$PWD/$DEBUG_VENV/bin/python"
    run_refleak_hunter "$PWD/$DEBUG_VENV/bin/python"
}

# regrtest -R 3:3 over the unittest-style leak module: three warm-up runs,
# then three measured runs whose reference, memory-block and file-descriptor
# counts must not grow.
run_refleak_hunter() {
    local python="$1" root="$PWD"
    (cd /tmp && "$python" -m test -R 3:3 --fail-env-changed --testdir "$root/tests/refleak" test_refleak_hunt)
}

# --- fuzzing (libFuzzer; clang 16, the first Debian clang whose C++20 library
# support has std::source_location)

FUZZ_CXX="${FUZZ_CXX:-clang++-16}"
FUZZER="build/fuzz/scorer_fuzzer"

build_fuzzer() {
    install_system_packages clang-16 libclang-rt-16-dev
    mkdir -p build/fuzz
    "$FUZZ_CXX" -std=c++20 -O2 -g -fno-omit-frame-pointer \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -Isrc/engine -Itests/engine src/engine/*.cpp fuzz/scorer_fuzzer.cpp -o "$FUZZER"
}

# Runs the fuzzer for $1 seconds from the committed seeds (fuzz/corpus) plus
# what earlier runs found (build/fuzz/corpus); further arguments go to
# libFuzzer. Crashing inputs are written under build/fuzz/.
run_fuzzer() {
    local seconds="$1"
    shift
    mkdir -p build/fuzz/corpus
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$FUZZER" -max_total_time="$seconds" -max_len=4096 -timeout=60 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/ "$@" build/fuzz/corpus fuzz/corpus
}
