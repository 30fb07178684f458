#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test in one ctest run:
# native, native under sanitizers, and the 32-bit and 64-bit Windows builds under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in host host-asan host-tsan windows windows64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# Configure the native tree again so that it picks up the sibling trees' tests.
cmake --preset host >/dev/null
ctest --preset all
