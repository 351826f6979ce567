#!/usr/bin/env bash
# Memcheck on the device link's own cases, and on the end-to-end runs: every run of the real program in the end-to-end tests goes
# under valgrind, which turns any memory error or leak into exit status 99; the tests pin the
# exit status and the output, so either fails them.
set -euo pipefail
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_TEST_PACKAGES[@]}" "${IQFEEDER_ANALYSIS_PACKAGES[@]}"
start=$SECONDS
# scripts/test's tree (built here when this step runs alone).
build="$PWD/build"
IQFEEDER_CMAKE_ARGS=$IQFEEDER_DEV_CMAKE_ARGS configure_and_build "$build"

# One suppression: glibc's own cache, which a run ended by its stop signal never frees.
suppressions="--suppressions=$PWD/tests/valgrind.supp"
wrapper="valgrind -q $suppressions --error-exitcode=99 --leak-check=full --show-leak-kinds=all"
wrapper+=" --errors-for-leak-kinds=all"
# valgrind itself must work here, or every run below would fail for another reason.
status=0
$wrapper "$build/iqfeeder" 2>/dev/null || status=$?
[ "$status" -eq 2 ] || { echo "valgrind does not run the program (status $status)" >&2; exit 1; }

# Each program's cases go in two shards side by side (GoogleTest's own split), one program after
# the other: two programs under valgrind keep both cores busy, and more would slow their start
# past the fixed moments some cases stop them at.
shards=2
memcheck() {
    local wrapper=$1 tests=$2 shard pids=() failed=0
    for ((shard = 0; shard < shards; shard++)); do
        IQFEEDER_TEST_WRAPPER="$wrapper" GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
            timeout 900 "$build/tests/$tests" --gtest_brief=1 &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
    [ "$failed" -eq 0 ] || { echo "memcheck: a shard of $tests failed (above)" >&2; exit 1; }
}
# The ring and the driver seam in process: the device link's cases, the ring's rules and the
# unplug table, each under valgrind itself.
ring='DeviceLinkTest.*:SendTest.*:MakerAdapterTest.*:Listing/*:Rules/*:Fates/*:Reconnect/*:Unplugged/*'
$wrapper "$build/tests/iqfeeder_unit_tests" --gtest_brief=1 --gtest_filter="$ring"
memcheck "$wrapper" iqfeeder_e2e_tests
memcheck "$wrapper" iqfeeder_fault_e2e_tests
# Live runs end by Ctrl-C, holding their memory then: only what nothing points to counts. Any
# report lands on the program's terminal or standard error, which the tests compare exactly.
live="valgrind -q $suppressions --leak-check=full --show-leak-kinds=definite,indirect,possible"
live+=" --errors-for-leak-kinds=definite,indirect,possible"
memcheck "$live" iqfeeder_live_e2e_tests
echo "memcheck on the end-to-end runs: $((SECONDS - start)) s"
