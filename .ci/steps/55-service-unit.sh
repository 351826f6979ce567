#!/usr/bin/env bash
# Checks the systemd unit as `cmake --install` puts it into a DESTDIR, for a source build
# (/usr/local) and for the package's prefix (/usr): its ExecStart names the installed binary,
# and `systemd-analyze verify` on an instance prints nothing at all. verify exits 0 on a
# setting it does not understand ("..., ignoring"), so any line it prints fails the step.
set -euo pipefail
start=$SECONDS
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_TEST_PACKAGES[@]}" "${IQFEEDER_BENCH_PACKAGES[@]}" \
    "${IQFEEDER_SERVICE_PACKAGES[@]}"

# The Release tree of the package step (built here when this step runs alone).
build_release_tree
build=$IQFEEDER_RELEASE_BUILD_DIR
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instance="iqfeeder@$(systemd-escape --path /srv/iq/live.iq).service"
for prefix in /usr/local /usr; do
    root="$work/root-${prefix//\//_}"
    DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >&2
    unit="$root$prefix/lib/systemd/system/iqfeeder@.service"
    expected="ExecStart=$prefix/bin/iqfeeder --live --reconnect --progress=60 --stats=60 --unlimited --metrics=\${IQFEEDER_METRICS} %f"
    if ! grep -qxF "$expected" "$unit"; then
        echo "$unit does not say: $expected" >&2
        exit 1
    fi
    # verify --root looks for the binary, and for the units this one depends on (sysinit.target
    # and the like), below the root: give it the host's.
    mkdir -p "$root/lib/systemd"
    cp -a /lib/systemd/system "$root/lib/systemd/"
    status=0
    output=$(MANPATH="$root$prefix/share/man" \
        systemd-analyze verify --root="$root" "$instance" 2>&1) || status=$?
    if [ "$status" -ne 0 ] || [ -n "$output" ]; then
        echo "systemd-analyze verify of $instance (prefix $prefix) exited $status:" >&2
        printf '%s\n' "$output" >&2
        exit 1
    fi
    echo "$instance verifies (prefix $prefix)"
    # The network unit too. verify reads "A:B" as a file and its alias, so the instance named
    # here has no colon; a real one (an escaped tcp:// or udp:// input) does.
    net_instance="iqfeeder-net@input.service"
    net_unit="$root$prefix/lib/systemd/system/iqfeeder-net@.service"
    expected="ExecStart=$prefix/bin/iqfeeder --reconnect --progress=60 --stats=60 --metrics=\${IQFEEDER_METRICS} %I"
    for line in "$expected" Type=notify WatchdogSec=30s Restart=always; do
        if ! grep -qxF "$line" "$net_unit"; then
            echo "$net_unit does not say: $line" >&2
            exit 1
        fi
    done
    output=$(MANPATH="$root$prefix/share/man" \
        systemd-analyze verify --root="$root" "$net_instance" 2>&1) || status=$?
    if [ "$status" -ne 0 ] || [ -n "$output" ]; then
        echo "systemd-analyze verify of $net_instance (prefix $prefix) exited $status:" >&2
        printf '%s\n' "$output" >&2
        exit 1
    fi
done
# The exposure score, for the record (a dynamic user, no network, USB devices only).
systemd-analyze security --offline=yes --root="$root" "$instance" 2>&1 | tail -n 1
echo "Service unit check: $((SECONDS - start)) s"
