#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, starts throwaway servers on loopback
# and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
scripts/build.sh build
(cd build && ctest --output-on-failure -j2 "$@")
