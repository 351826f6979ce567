#!/usr/bin/env bash
# The Windows build: iqfeeder.exe cross-built with mingw-w64, and its tests run under wine.
set -euo pipefail
start=$SECONDS
IQFEEDER_WINDOWS_BUILD_DIR="$PWD/build-windows" scripts/test-windows
echo "Windows build and tests: $((SECONDS - start)) s"
