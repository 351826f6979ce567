#!/usr/bin/env bash
# The ARM builds: arm64 and armhf cross-built, the suite run under qemu-user, and the Debian
# package of each built and checked. The two architectures go side by side (the suites under
# qemu mostly wait), each into a log of its own, shown when it ends.
set -euo pipefail
source scripts/lib/common.sh
start=$SECONDS
# Installed once, before the two start, so that they never meet in dpkg.
archs=(arm64 armhf)
declare -A triples=([arm64]=aarch64-linux-gnu [armhf]=arm-linux-gnueabihf)
packages=("${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_TEST_PACKAGES[@]}" "${IQFEEDER_ARM_PACKAGES[@]}")
for arch in "${archs[@]}"; do
    read -ra target_packages <<<"$(arm_packages "$arch" "${triples[$arch]}")"
    packages+=("${target_packages[@]}")
done
ensure_packages "${packages[@]}"

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
declare -A pids
for arch in "${archs[@]}"; do
    IQFEEDER_ARM_BUILD_ROOT="$PWD" scripts/test-arm "$arch" >"$logs/$arch.log" 2>&1 &
    pids[$arch]=$!
done
failed=()
for arch in "${archs[@]}"; do
    status=0
    wait "${pids[$arch]}" || status=$?
    echo "== $arch (exit $status)"
    cat "$logs/$arch.log"
    [ "$status" -eq 0 ] || failed+=("$arch")
done
[ ${#failed[@]} -eq 0 ] || { echo "ARM builds failed: ${failed[*]}" >&2; exit 1; }
echo "ARM builds, tests and packages: $((SECONDS - start)) s"
