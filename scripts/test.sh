#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, starts throwaway servers on loopback,
# runs every test through CTest and stops the servers. Arguments go to ctest (-L unit, -R name).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
# Warnings are errors here, as in CI.
scripts/build.sh build -DSONDA_WERROR=ON

trap 'scripts/test-servers.sh stop' EXIT
scripts/test-servers.sh start
set -a
source build/test-servers.env
set +a
(cd build && ctest --output-on-failure -j2 "$@")
