#!/usr/bin/env bash
# The soak run of the real program, alone: a minute here (IQFEEDER_SOAK_SECONDS sets another
# length, see "Reliability" in the README).
set -euo pipefail
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_TEST_PACKAGES[@]}"
start=$SECONDS
# scripts/test's tree (built here when this step runs alone).
build="$PWD/build"
IQFEEDER_CMAKE_ARGS=$IQFEEDER_DEV_CMAKE_ARGS configure_and_build "$build" iqfeeder_soak_test
IQFEEDER_SOAK_SECONDS=${IQFEEDER_SOAK_SECONDS:-60} "$build/tests/iqfeeder_soak_test"
echo "soak: $((SECONDS - start)) s"
