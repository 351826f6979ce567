#!/usr/bin/env bash
# The ARM builds: arm64 and armhf cross-built, the suite run under qemu-user, and the Debian
# package of each built and checked.
set -euo pipefail
start=$SECONDS
IQFEEDER_ARM_BUILD_ROOT="$PWD" scripts/test-arm
echo "ARM builds, tests and packages: $((SECONDS - start)) s"
