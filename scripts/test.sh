#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# Tests labelled "lab" build network namespaces and need root; without root they skip themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
