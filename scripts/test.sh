#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test in one ctest run:
# native, native under sanitizers, and the 32-bit and 64-bit Windows builds under Wine.
# On a machine that cannot run 32-bit programs the 32-bit tree's Wine tests are skipped
# (its fixture finds that out by starting a tiny 32-bit program); the 64-bit tree runs them.
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
status=0
ctest --preset all || status=$?
if [ -f build/windows/wine/no-32-bit ]; then
  echo "The 32-bit tree's Wine tests were skipped: this machine cannot run 32-bit programs"
  echo "($(cat build/windows/wine/no-32-bit)). The 64-bit tree ran the same tests."
fi
exit "$status"
