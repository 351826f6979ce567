#!/usr/bin/env bash
# libFuzzer on the file lengths the passes see against the position rules, for a bounded time
# (IQFEEDER_FUZZ_SECONDS, 90 by default), from the checked-in seeds in fuzz/corpus.
set -euo pipefail
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_ANALYSIS_PACKAGES[@]}"
start=$SECONDS
build="$PWD/build-fuzz"
CC=clang CXX=clang++ IQFEEDER_CMAKE_ARGS="-DIQFEEDER_FUZZ=ON -DIQFEEDER_BUILD_TESTS=OFF \
    -DIQFEEDER_WITH_LIBFTDI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo" \
    configure_and_build "$build" iqfeeder_live_position_fuzzer
# New inputs go to the first folder, so the checked-in seeds stay as they are.
mkdir -p "$build/corpus"
"$build/fuzz/iqfeeder_live_position_fuzzer" -max_len=200 -timeout=30 \
    -max_total_time="${IQFEEDER_FUZZ_SECONDS:-90}" -print_final_stats=1 \
    -artifact_prefix="$build/" "$build/corpus" fuzz/corpus 2>&1 | tail -n 20
echo "fuzzing: $((SECONDS - start)) s"
