#!/usr/bin/env bash
# First run on a fresh machine: installs what is needed, builds, and shows the probe at work.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
scripts/build.sh build
build/sonda-cobranca version
