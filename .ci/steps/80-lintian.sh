#!/usr/bin/env bash
# lintian on the three Debian packages that the package and ARM steps built (amd64, arm64,
# armhf): any error fails the step; warnings are shown.
set -euo pipefail
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_TEST_PACKAGES[@]}"
start=$SECONDS
debs=()
for dir in "$IQFEEDER_RELEASE_BUILD_DIR" "$PWD/build-arm64-package" "$PWD/build-armhf-package"; do
    found=("$dir"/iqfeeder_*.deb)
    [ -f "${found[0]}" ] ||
        { echo "no package in $dir: run .ci/steps/45-arm.sh and 50-package.sh first" >&2; exit 1; }
    debs+=("${found[@]}")
done
for deb in "${debs[@]}"; do
    status=0
    output=$(lintian --fail-on error --info "$deb" 2>&1) || status=$?
    grep -v '^running with root privileges' <<<"$output" || true
    [ "$status" -eq 0 ] || { echo "lintian: errors in $(basename "$deb")" >&2; exit 1; }
    echo "lintian: no error in $(basename "$deb")"
done
echo "lintian: $((SECONDS - start)) s"
