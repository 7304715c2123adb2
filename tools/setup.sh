#!/usr/bin/env bash
# Installs what building, testing or checking Kinstrom needs and this machine lacks: the one list
# of the packages the project uses, in sets. `make run` calls it for the program, `make test` for
# the tests, `.ci/run` for everything.
#
#   tools/setup.sh SET...       SET: program, tests, ci or bench
#
#   program  what the program's build needs: a C++ compiler, cmake, zlib, zstd, nlohmann-json
#   tests    what the tests need besides: GoogleTest, Python's jsonschema and imaging library,
#            Chromium and a font for the report's browser check, zstd, groff
#   ci       what CI runs besides: clang-format, clang and its fuzzing runtime, dpkg-dev
#   bench    what bench/run.sh needs besides: GNU time
#
# A package counts as there when dpkg says it is installed or when what it provides answers (its
# command, or its header found by the compiler): a cmake or Chromium from elsewhere is left alone.
# What is missing is installed with apt-get, as root or through `sudo -n` (never waiting for a
# password), without recommended extras and without upgrading anything but what a new package
# needs at its exact version (named before installing). Where that cannot be done (no root, no
# password-less sudo, no apt-get) the script stops, status 1, with the command that would install
# what is missing.
#
# Environment:
#   KINSTROM_NO_INSTALL=1    install nothing: print the command and go on (the build then finds
#                            what is there, or says what it lacks)
#   KINSTROM_CHROMIUM=PATH   the Chromium the browser check runs (default: chromium on PATH)
set -euo pipefail

usage() {
    echo "usage: tools/setup.sh SET...   (SET: program, tests, ci, bench)" >&2
    exit 2
}

# has_header HEADER: the C++ compiler finds it.
has_header() {
    local cxx=${CXX:-c++}
    command -v "$cxx" > /dev/null 2>&1 &&
        printf '#include <%s>\n' "$1" | "$cxx" -E -x c++ - > /dev/null 2>&1
}
has_python_module() { /usr/bin/python3 -c "import $1" > /dev/null 2>&1; }
answers() { "$@" > /dev/null 2>&1; }

# present PACKAGE: what the package provides is there.
present() {
    case $1 in
        g++) answers "${CXX:-g++}" --version ;;
        cmake) answers cmake --version ;;
        make) answers make --version ;;
        zlib1g-dev) has_header zlib.h ;;
        libzstd-dev) has_header zstd.h ;;
        nlohmann-json3-dev) has_header nlohmann/json.hpp ;;
        libgtest-dev) has_header gtest/gtest.h ;;
        python3-jsonschema) has_python_module jsonschema ;;
        python3-pil) has_python_module PIL.Image ;;
        chromium) answers "${KINSTROM_CHROMIUM:-chromium}" --version ;;
        fonts-liberation) answers fc-list && [ -n "$(fc-list 2> /dev/null)" ] ;;
        zstd) answers zstd --version ;;
        groff-base) answers groff --version ;;
        clang-format) answers clang-format --version ;;
        clang) answers clang++ --version ;;
        dpkg-dev) answers dpkg-shlibdeps --version ;;
        time) [ -x /usr/bin/time ] ;;
        *) return 1 ;;
    esac
}

# The sets, and what each is needed for (the line said before installing).
declare -A why=(
    [program]="the program's build needs"
    [tests]="the tests need"
    [ci]="CI's format check, fuzzing and packaging need"
    [bench]="the benchmark needs"
)
packages_of() {
    case $1 in
        program) echo g++ cmake make zlib1g-dev libzstd-dev nlohmann-json3-dev ;;
        tests) echo libgtest-dev python3-jsonschema python3-pil chromium fonts-liberation zstd groff-base ;;
        # libclang-rt-14-dev has no command or header of its own to ask.
        ci) echo clang-format clang libclang-rt-14-dev dpkg-dev ;;
        bench) echo time ;;
        *) return 1 ;;
    esac
}

(($#)) || usage
missing=()
reason=
for set in "$@"; do
    list=$(packages_of "$set") || usage
    wanted=()
    for p in $list; do
        if command -v dpkg-query > /dev/null 2>&1 &&
            [ "$(dpkg-query -W -f '${Status}' "$p" 2> /dev/null)" = "install ok installed" ]; then
            continue
        fi
        present "$p" && continue
        [[ " ${missing[*]} " == *" $p "* ]] && continue
        missing+=("$p")
        wanted+=("$p")
    done
    ((${#wanted[@]})) && reason+="${reason:+; }${why[$set]} ${wanted[*]}"
done
((${#missing[@]})) || exit 0

command="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "${KINSTROM_NO_INSTALL:-}" = 1 ]; then
    echo "setup: $reason; not installing them (KINSTROM_NO_INSTALL=1): apt-get update && $command"
    exit 0
fi

# Who may install: root, or sudo without a password.
if [ "$(id -u)" = 0 ]; then
    as_root=(env)
elif command -v sudo > /dev/null 2>&1 && sudo -n true > /dev/null 2>&1; then
    as_root=(sudo -n env)
else
    as_root=()
fi
if ! command -v apt-get > /dev/null 2>&1; then
    echo "setup: $reason; this system has no apt-get: install them (Debian's names) with its own" \
        "package manager, or build with KINSTROM_NO_INSTALL=1 if they are there" >&2
    exit 1
fi
if ((${#as_root[@]} == 0)); then
    become="su -c"
    command -v sudo > /dev/null 2>&1 && become="sudo sh -c"
    echo "setup: $reason; installing them needs root (no password-less sudo here): run" \
        "$become 'apt-get update && $command'" >&2
    exit 1
fi

echo "setup: $reason; installing them with apt-get: $command"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
apt() { "${as_root[@]}" DEBIAN_FRONTEND=noninteractive apt-get -q "$@" >> "$log" 2>&1; }
# The package lists of a new machine are empty or old: read them first.
apt update || { cat "$log" >&2; echo "setup: apt-get update failed" >&2; exit 1; }
# What would be upgraded is what a new package needs at its exact version: say so first.
: > "$log"
apt install -s --no-install-recommends "${missing[@]}" ||
    { cat "$log" >&2; echo "setup: apt-get cannot install ${missing[*]}" >&2; exit 1; }
upgrades=$(awk '$1 == "Inst" && $3 ~ /^\[/ { gsub(/[][(]/, ""); printf "%s%s %s -> %s", n++ ? ", " : "", $2, $3, $4 }' "$log")
[ -z "$upgrades" ] ||
    echo "setup: also upgrading what the new packages need at an exact version: $upgrades"
: > "$log"
apt install -y --no-install-recommends "${missing[@]}" ||
    { tail -n 30 "$log" >&2; echo "setup: apt-get install failed (above)" >&2; exit 1; }
echo "setup: installed ${missing[*]}"
