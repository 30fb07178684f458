#!/usr/bin/env bash
# Builds the 32-bit program and starts it under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Snaplark
dir=build/windows/run-wine
scripts/wine-env.sh start "$dir"
trap 'scripts/wine-env.sh stop "$dir"' EXIT
scripts/wine-env.sh run "$dir" build/windows/app/Snaplark.exe
