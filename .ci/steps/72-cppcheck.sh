#!/usr/bin/env bash
# cppcheck over all product code, as built (POSIX) and with _WIN32 for the Windows sources;
# any finding fails. Suppressions, if ever needed, go inline with their reason.
set -euo pipefail
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_ANALYSIS_PACKAGES[@]}"
start=$SECONDS
build="$PWD/build-tidy"
cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DIQFEEDER_BUILD_TESTS=OFF >&2

# unusedFunction is left out: what is used depends on the platform and on libftdi1.
options=(--std=c++20 --enable=warning,style,performance,portability --inline-suppr
    --suppress=missingIncludeSystem --error-exitcode=1 -q -j "$(nproc)"
    --template='{file}:{line}: {severity} [{id}] {message}')
cppcheck "${options[@]}" --project="$build/compile_commands.json"
mapfile -t windows < <(git ls-files 'app/*_windows.cpp' 'stream/*_windows.cpp' 'device/*_windows.cpp' 'common/*_windows.cpp')
cppcheck "${options[@]}" -I . -D_WIN32 -D_WIN64 "${windows[@]}"
echo "cppcheck: no finding, $((SECONDS - start)) s"
