#!/usr/bin/env bash
# The benchmark and the paced run on a small file for a few seconds, so that they keep building
# and running; the figures are printed but not checked (CI machines vary too much).
set -euo pipefail
start=$SECONDS
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_TEST_PACKAGES[@]}" "${IQFEEDER_BENCH_PACKAGES[@]}"
# In the package step's Release tree, which has the benchmark's targets too.
build_release_tree
IQFEEDER_BENCH_BUILD_DIR=$IQFEEDER_RELEASE_BUILD_DIR scripts/bench --smoke
echo "Bench smoke run: $((SECONDS - start)) s"
