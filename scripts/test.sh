#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test through CTest.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" "$here/build"
cd "$here/build"
ctest --output-on-failure --timeout 600 -j "$(nproc)"
