# What scripts/run_example.sh still sources until it sets itself up alone;
# every check lives in scripts/check.sh. Source it from the repository root.

PYTHON="${PYTHON:-python3}"
VENV="${VENV:-.venv}"

install_system_packages() {
    if ! dpkg-query -W -f='${Status}' g++ 2>/dev/null | grep -q "install ok installed"; then
        local sudo=""
        [[ $(id -u) -eq 0 ]] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq g++ >/dev/null
    fi
}

# A fresh virtual environment at $1 for interpreter $2 with the project
# installed, with the optional dependencies named by $3 (none when empty).
make_venv() {
    local venv="$1" python="$2" extras="${3-test}"
    "$python" -m venv --clear "$venv"
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q ".${extras:+[$extras]}"
}
