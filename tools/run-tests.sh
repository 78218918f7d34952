#!/usr/bin/env bash
# The whole test suite from scratch: set-up, the native build and its tests, the web pages in headless
# Chromium, the same tests under AddressSanitizer + UBSan and under ThreadSanitizer, a short run of the fuzz
# targets, the Windows cross-build and its runs under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh

jobs=$(nproc)
step() { printf '\n==== %s\n' "$*"; }

for preset in native asan tsan; do
  step "build and test: $preset"
  cmake --preset "$preset" -DPNX_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
  if [ "$preset" = native ]; then
    step "browser tests: panel page and property inspector (headless Chromium)"
    node --test tests/web/
    # pytest's exit code 5 (no test ran) counts as a failure like any other non-zero code.
    rc=0
    PYTHONDONTWRITEBYTECODE=1 PNX_BUILD_DIR="$PWD/build/native" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/web || rc=$?
    if [ "$rc" -ne 0 ]; then
      echo "browser tests failed (pytest exit code $rc); screenshots in build/native/web-tests/" >&2
      exit 1
    fi
  fi
done

step "fuzz: every target briefly, and every kept regression input"
bash tools/fuzz.sh --seconds 5

step "build: windows (mingw-w64)"
cmake --preset windows -DPNX_WERROR=ON >/dev/null
cmake --build --preset windows -j "$jobs"

for script in tools/wine-smoke.sh tools/wine-tests.sh; do
  if [ -f "$script" ]; then
    step "wine: $script"
    bash "$script"
  fi
done

step "all tests passed"
