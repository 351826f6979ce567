#!/usr/bin/env bash
# Builds the Debian package, installs it with apt and runs the installed program. CI machines
# have no USB devices, so it must report none and still send a small recording to the end.
set -euo pipefail
start=$SECONDS
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_TEST_PACKAGES[@]}" "${IQFEEDER_BENCH_PACKAGES[@]}"

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 "$@"; }

build_release_tree
build=$IQFEEDER_RELEASE_BUILD_DIR
rm -f "$build"/iqfeeder_*.deb
(cd "$build" && cpack -G DEB >&2)
debs=("$build"/iqfeeder_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one package, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}

check_package "$deb" "$(dpkg --print-architecture)"

was_installed=false
dpkg-query -W -f='${Status}' iqfeeder 2>/dev/null | grep -q 'install ok installed' && was_installed=true
work=$(mktemp -d)
cleanup() {
    rm -rf "$work"
    if ! $was_installed; then apt_get remove -y -qq iqfeeder >&2 || true; fi
}
trap cleanup EXIT
(cd "$build" && apt_get install -y -qq "./$(basename "$deb")" >&2)

input="$work/small.iq"
head -c 1500 /dev/urandom >"$input"
actual=$(/usr/bin/iqfeeder "$input"; echo "exit $?")
expected="Failed to find any FTDI devices.....!
Please exit.............
Can't open FTDI Device.
Input file is $input
Sending IQ data to FTDI USB device.....

Checking if it's a recorded file or live stream.....
"$'Using pre-recorded file, Sent 0 of 1KB\rFT_W32_WriteFile Failed\nUsing pre-recorded file, Sent 32 of 1KB\rFile sent.\nexit 0'
if [ "$actual" != "$expected" ]; then
    echo "the installed iqfeeder printed something else:" >&2
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") >&2 || true
    exit 1
fi
[ -f /usr/share/man/man1/iqfeeder.1.gz ] && [ -f /usr/lib/udev/rules.d/60-iqfeeder-ftdi.rules ]
[ -f /usr/lib/systemd/system/iqfeeder@.service ]
# Installed, not enabled (unless someone had enabled it here before).
if ! $was_installed && compgen -G '/etc/systemd/system/*/iqfeeder@*' >/dev/null; then
    echo "installing the package enabled the unit" >&2
    exit 1
fi
echo "package $(basename "$deb") installs and runs, $((SECONDS - start)) s"
