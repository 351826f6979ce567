# Shared by the scripts: install what is missing, then configure and build.
# shellcheck shell=bash

IQFEEDER_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages the build and the test suite need.
IQFEEDER_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev)
# libftdi1 (with libusb, which its driver also calls) drives the chip without the maker's
# library; umockdev emulates it for the tests.
IQFEEDER_PACKAGES+=(libftdi1-dev libusb-1.0-0-dev umockdev libumockdev-dev)
# Only for the Windows build (scripts/test-windows): the mingw-w64 cross compiler, GoogleTest's
# sources to build with it, and wine to run the tests.
IQFEEDER_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine64)

# Installs only the packages that are not installed yet.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    # Another install may hold the package lock (a second build on the same machine): wait for it.
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq >&2
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends "${missing[@]}" >&2
}

# configure_and_build BUILD_DIR [TARGET] -- extra cmake arguments come from IQFEEDER_CMAKE_ARGS.
configure_and_build() {
    local dir=$1 target=${2:-all}
    # shellcheck disable=SC2086
    cmake -S "$IQFEEDER_ROOT" -B "$dir" -G Ninja ${IQFEEDER_CMAKE_ARGS:-} >&2
    cmake --build "$dir" --target "$target" >&2
}

# Only for scripts/bench: strace counts the program's system calls (dd comes with coreutils).
IQFEEDER_BENCH_PACKAGES=(strace)

# Only for the analysis steps in .ci/steps (memcheck, clang-tidy, cppcheck, the fuzzer): clang
# with libFuzzer's runtime.
IQFEEDER_ANALYSIS_PACKAGES=(valgrind clang clang-tidy cppcheck libclang-rt-dev)

# Only for .ci/steps/55-service-unit.sh: systemd-analyze (from systemd, absent from a minimal
# Debian) checks the unit, and man finds the man page its Documentation= names.
IQFEEDER_SERVICE_PACKAGES=(systemd man-db)
