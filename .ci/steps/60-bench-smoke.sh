#!/usr/bin/env bash
# The benchmark and the paced run on a small file for a few seconds, so that they keep building
# and running; the figures are printed but not checked (CI machines vary too much).
set -euo pipefail
start=$SECONDS
IQFEEDER_BENCH_BUILD_DIR="$PWD/build-bench-smoke" scripts/bench --smoke
echo "Bench smoke run: $((SECONDS - start)) s"
