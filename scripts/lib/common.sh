# Shared by the scripts: install what is missing, then configure and build.
# shellcheck shell=bash

IQFEEDER_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages the build and the test suite need.
IQFEEDER_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev)
# libftdi1 (with libusb, which its driver also calls) drives the chip without the maker's
# library; umockdev emulates it for the tests.
IQFEEDER_PACKAGES+=(libftdi1-dev libusb-1.0-0-dev umockdev libumockdev-dev)
# The metrics file's test reads it with Prometheus' own text parser.
IQFEEDER_PACKAGES+=(python3-prometheus-client)
# libsrt takes srt:// inputs (SRT, for links that lose packets).
IQFEEDER_PACKAGES+=(libsrt-openssl-dev)
# ffmpeg is the encoder the SRT cases send from (they skip without it).
IQFEEDER_TEST_PACKAGES=(ffmpeg)
# Only for the Windows build (scripts/test-windows): the mingw-w64 cross compiler, GoogleTest's
# sources to build with it, and wine to run the tests.
IQFEEDER_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine64)

# Only for the ARM builds (scripts/test-arm): qemu-user to run the tests, and for each target
# (arm_packages ARCH TRIPLE) Debian's cross compiler and the target's libraries from the multiarch
# archive. The target gets libftdi1-2 alone, never libftdi1-dev: that one is not Multi-Arch, so
# installing it for the target would remove the build machine's own (cmake/LibFtdiDriver.cmake
# takes the shared header from the native package instead).
IQFEEDER_ARM_PACKAGES=(qemu-user-static)
# python3 listens on a notification socket for the packaged program's READY=1 and WATCHDOG=1.
IQFEEDER_ARM_PACKAGES+=(python3)
arm_packages() {
    echo "g++-$2" "libgtest-dev:$1" "libftdi1-2:$1" "libusb-1.0-0-dev:$1" "libstdc++6:$1" \
        "libsrt-openssl-dev:$1"  # Multi-Arch: same, so the ARM packages carry SRT too
}

# Is PKG installed? A bare name means the build machine's architecture (or an "all" package),
# NAME:ARCH that architecture.
package_installed() {
    local pkg=$1
    if [[ $pkg == *:* ]]; then
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -qx 'install ok installed'
    else
        dpkg-query -W -f='${Status} ${Architecture}\n' "$pkg" 2>/dev/null |
            grep -Eqx "install ok installed ($(dpkg --print-architecture)|all)"
    fi
}

# Installs only the packages that are not installed yet; NAME:ARCH adds ARCH to dpkg's
# architectures first (multiarch).
ensure_packages() {
    local missing=() pkg arch
    for pkg in "$@"; do
        if [[ $pkg == libftdi1-dev:* ]]; then
            echo "refusing to install $pkg: it would replace the build machine's libftdi1-dev" >&2
            return 1
        fi
        package_installed "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    for pkg in "${missing[@]}"; do
        arch=${pkg#*:}
        if [[ $pkg == *:* && $arch != "$(dpkg --print-architecture)" ]] &&
            ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            echo "Adding the $arch architecture to dpkg" >&2
            "${sudo[@]}" dpkg --add-architecture "$arch"
        fi
    done
    echo "Installing: ${missing[*]}" >&2
    # Another install may hold the package lock (a second build on the same machine): wait for it.
    # A mirror caught mid-sync fails the update for a while: try again, then go on with the lists
    # there are, so only a package that really can't be had fails the install.
    local try
    for try in 1 2 3; do
        "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq >&2 && break
        echo "Package lists not updated (try $try of 3)" >&2
        [ "$try" -lt 3 ] && sleep 30
    done
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

# check_package DEB ARCH -- what every Debian package must hold: the program, its man page and the
# udev rule, the architecture it was built for, and Depends as dpkg-shlibdeps found them (a
# versioned C library and the libftdi1 the program was linked with). Prints the Depends line.
check_package() {
    local deb=$1 arch=$2 contents depends path
    contents=$(dpkg-deb -c "$deb")
    local unit=./usr/lib/systemd/system/iqfeeder@.service
    for path in ./usr/bin/iqfeeder ./usr/share/man/man1/iqfeeder.1 \
        ./usr/lib/udev/rules.d/60-iqfeeder-ftdi.rules "$unit"; do
        grep -q " $path\$" <<<"$contents" || { echo "$path missing from $deb" >&2; return 1; }
    done
    # The unit is made at install time: it must name the package's binary, not the build's prefix.
    dpkg-deb --fsys-tarfile "$deb" | tar -xO "$unit" |
        grep -xF 'ExecStart=/usr/bin/iqfeeder --live --reconnect --progress=60 --stats=60 --unlimited --metrics=${IQFEEDER_METRICS} %f' \
            >/dev/null ||
        { echo "$deb: the unit does not start /usr/bin/iqfeeder" >&2; return 1; }
    # Every Linux build tells systemd of readiness and liveness.
    local unit_text
    unit_text=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "$unit")
    if ! grep -qx 'Type=notify' <<<"$unit_text" || ! grep -Eqx 'WatchdogSec=[1-9][0-9]*s' <<<"$unit_text"; then
        echo "$deb: the unit is not Type=notify with a watchdog" >&2
        return 1
    fi
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
        { echo "$deb is for $(dpkg-deb -f "$deb" Architecture), not $arch" >&2; return 1; }
    depends=$(dpkg-deb -f "$deb" Depends)
    grep -Eq '(^|, )libc6 \(>= [0-9.]+\)' <<<"$depends" ||
        { echo "$deb: no versioned libc6 in Depends: $depends" >&2; return 1; }
    grep -Eq '(^|, )libftdi1-2( |,|$)' <<<"$depends" ||
        { echo "$deb: no libftdi1 in Depends: $depends" >&2; return 1; }
    echo "$(basename "$deb"): Depends: $depends"
}

# Only for scripts/bench: strace counts the program's system calls (dd comes with coreutils).
IQFEEDER_BENCH_PACKAGES=(strace)

# Only for the analysis steps in .ci/steps (memcheck, clang-tidy, cppcheck, the fuzzer): clang
# with libFuzzer's runtime.
IQFEEDER_ANALYSIS_PACKAGES=(valgrind clang clang-tidy cppcheck libclang-rt-dev)

# Only for .ci/steps/55-service-unit.sh: systemd-analyze (from systemd, absent from a minimal
# Debian) checks the unit, and man finds the man page its Documentation= names.
IQFEEDER_SERVICE_PACKAGES=(systemd man-db)
