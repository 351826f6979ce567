#!/usr/bin/env bash
# clang-tidy with the checked-in .clang-tidy over all product code; any finding fails. The
# Windows sources are checked too, against the mingw-w64 headers.
set -euo pipefail
source scripts/lib/common.sh
ensure_packages "${IQFEEDER_PACKAGES[@]}" "${IQFEEDER_ANALYSIS_PACKAGES[@]}" g++-mingw-w64-x86-64-posix
start=$SECONDS
build="$PWD/build-tidy"
cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DIQFEEDER_BUILD_TESTS=OFF >&2

mapfile -t posix < <(git ls-files 'app/*.cpp' 'stream/*.cpp' 'device/*.cpp' 'common/*.cpp' |
    grep -v '_windows\.cpp$')
mapfile -t windows < <(git ls-files 'app/*_windows.cpp' 'stream/*_windows.cpp' 'device/*_windows.cpp' 'common/*_windows.cpp')
# Every product source must be in one of the two lists, and the POSIX ones in the build.
for file in "${posix[@]}"; do
    grep -q "\"file\": \"$PWD/$file\"" "$build/compile_commands.json" ||
        { echo "$file is not built, so clang-tidy can't check it" >&2; exit 1; }
done

printf '%s\n' "${posix[@]}" | xargs -P "$(nproc)" -n 3 clang-tidy -p "$build" --quiet
mingw=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | head -n 1)
printf '%s\n' "${windows[@]}" | xargs -P "$(nproc)" -n 1 sh -c 'clang-tidy --quiet "$1" -- \
    --target=x86_64-w64-mingw32 -std=c++20 -I. -isystem "$0" -isystem "$0/x86_64-w64-mingw32"' \
    "$mingw"
echo "clang-tidy: ${#posix[@]} + ${#windows[@]} files, no finding, $((SECONDS - start)) s"
