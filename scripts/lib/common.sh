# Shared by the scripts: install what is missing, then configure and build.
# shellcheck shell=bash

IQFEEDER_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Two lists: what building and running the program needs (scripts/run), and what the test suite
# needs on top (scripts/test, CI).
IQFEEDER_PACKAGES=(cmake ninja-build g++ pkg-config)
# libftdi1 (with libusb, which its driver also calls) drives the chip without the maker's library.
IQFEEDER_PACKAGES+=(libftdi1-dev libusb-1.0-0-dev)
# libsrt takes srt:// inputs (SRT, for links that lose packets).
IQFEEDER_PACKAGES+=(libsrt-openssl-dev)

# GoogleTest for the suite; umockdev emulates the chip for the libftdi1 driver's tests.
IQFEEDER_TEST_PACKAGES=(libgtest-dev umockdev libumockdev-dev)
# ffmpeg is the encoder the SRT cases send from (they skip without it).
IQFEEDER_TEST_PACKAGES+=(ffmpeg)
# The metrics file's test reads it with Prometheus' own text parser.
IQFEEDER_TEST_PACKAGES+=(python3-prometheus-client)
# The Debian packages: dpkg-dev's dpkg-buildflags and dpkg-shlibdeps make them, lintian checks
# them (.ci/steps/80-lintian.sh).
IQFEEDER_TEST_PACKAGES+=(dpkg-dev lintian)
# ccache keeps compiled objects for the next build of the same tree.
IQFEEDER_TEST_PACKAGES+=(ccache)

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

# A developer's build (scripts/test, CI): the suite, warnings as errors, and the libftdi1 driver
# required, so that a configure that does not find it fails rather than testing without it.
IQFEEDER_DEV_CMAKE_ARGS="-DIQFEEDER_BUILD_TESTS=ON -DIQFEEDER_WERROR=ON -DIQFEEDER_REQUIRE_LIBFTDI=ON -DIQFEEDER_REQUIRE_SRT=ON"

# How many tests run at once: the suite mostly waits (on children, pipes, the stand-in's pace),
# so several per core.
iqfeeder_test_jobs() {
    local jobs=$(($(nproc) * 4))
    [ "$jobs" -ge 8 ] || jobs=8
    echo "${IQFEEDER_TEST_JOBS:-$jobs}"
}

# configure_and_build BUILD_DIR [TARGET] -- extra cmake arguments come from IQFEEDER_CMAKE_ARGS.
# Compiles through ccache when it is installed (scripts/test installs it): a cold cache only
# fills, a warm one makes the next build of the same tree quick.
configure_and_build() {
    local dir=$1 target=${2:-all} launcher=()
    if command -v ccache >/dev/null && [ ! -f "$dir/CMakeCache.txt" ]; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    # shellcheck disable=SC2086
    cmake -S "$IQFEEDER_ROOT" -B "$dir" -G Ninja "${launcher[@]}" ${IQFEEDER_CMAKE_ARGS:-} >&2
    # IQFEEDER_BUILD_NICENESS: CI builds at a lower priority than the tests it runs beside them.
    nice -n "${IQFEEDER_BUILD_NICENESS:-0}" cmake --build "$dir" --target "$target" >&2
}

# with_debian_buildflags ARCH COMMAND... -- runs COMMAND with CFLAGS, CXXFLAGS and LDFLAGS as
# dpkg-buildflags gives them for a package of ARCH with all of Debian's hardening (fortify,
# stack protector, relro, bindnow, PIE), which CMake takes in at a tree's first configure.
# CMake reads no CPPFLAGS, so fortify's definition goes with the compile flags.
with_debian_buildflags() {
    local arch=$1
    shift
    _iqfeeder_buildflag() {
        DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"
    }
    CFLAGS="$(_iqfeeder_buildflag CPPFLAGS) $(_iqfeeder_buildflag CFLAGS)" \
        CXXFLAGS="$(_iqfeeder_buildflag CPPFLAGS) $(_iqfeeder_buildflag CXXFLAGS)" \
        LDFLAGS="$(_iqfeeder_buildflag LDFLAGS)" "$@"
}

# The Release tree that CI's package, service unit and benchmark steps share: built as the
# package is (Release, Debian's hardening flags), and with warnings as errors, so that a warning
# only an optimised build shows fails CI. -Werror changes no generated code.
IQFEEDER_RELEASE_BUILD_DIR=${IQFEEDER_RELEASE_BUILD_DIR:-$IQFEEDER_ROOT/build-release}
build_release_tree() {
    IQFEEDER_CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Release -DIQFEEDER_BUILD_TESTS=OFF -DIQFEEDER_WERROR=ON \
        -DIQFEEDER_REQUIRE_LIBFTDI=ON -DIQFEEDER_REQUIRE_SRT=ON -DIQFEEDER_BUILD_BENCH=ON" \
        with_debian_buildflags "$(dpkg --print-architecture)" \
        configure_and_build "$IQFEEDER_RELEASE_BUILD_DIR"
}

# check_package DEB ARCH -- what every Debian package must hold: the program, its man page and the
# udev rule, the architecture it was built for, and Depends as dpkg-shlibdeps found them (a
# versioned C library and the libftdi1 the program was linked with). Prints the Depends line.
check_package() {
    local deb=$1 arch=$2 contents depends path
    contents=$(dpkg-deb -c "$deb")
    local unit=./usr/lib/systemd/system/iqfeeder@.service
    for path in ./usr/bin/iqfeeder ./usr/share/man/man1/iqfeeder.1.gz \
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
    # libsrt is loaded when an srt:// input opens: the program names it, the package depends on it.
    grep -Eq '(^|, )libsrt1\.5-openssl( |,|$)' <<<"$depends" ||
        { echo "$deb: no libsrt in Depends: $depends" >&2; return 1; }
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/iqfeeder | grep -ac 'libsrt\.so\.1\.5' >/dev/null ||
        { echo "$deb: its program does not load libsrt" >&2; return 1; }
    echo "$(basename "$deb"): Depends: $depends"
}

# Only for scripts/bench: Google Benchmark, strace counts the program's system calls (dd comes
# with coreutils), and socat and srt-live-transmit relay the network inputs it is compared with.
IQFEEDER_BENCH_PACKAGES=(libbenchmark-dev strace socat srt-tools)

# Only for the analysis steps in .ci/steps (memcheck, clang-tidy, cppcheck, the fuzzer): clang
# with libFuzzer's runtime.
IQFEEDER_ANALYSIS_PACKAGES=(valgrind clang clang-tidy cppcheck libclang-rt-dev)

# Only for .ci/steps/55-service-unit.sh: systemd-analyze (from systemd, absent from a minimal
# Debian) checks the unit, and man finds the man page its Documentation= names.
IQFEEDER_SERVICE_PACKAGES=(systemd man-db)
