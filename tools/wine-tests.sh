#!/usr/bin/env bash
# End-to-end runs of the Windows build under wine: a fresh wine prefix, the emulated device's COM server
# registered in it, then the scenarios of tests/wine (a native runner that starts the Windows programs).
# Needs the windows build (build/windows) and builds the runner in build/native.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
if [ -z "$wine" ]; then
  echo "wine-tests: no wine64 found (install Debian's wine64)" >&2
  exit 1
fi
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=$(dirname "$wine")/wineserver

windows=$root/build/windows
for file in tools/simdevice/pnx_simdevice.dll tools/simdevice/simdevice_probe.exe; do
  if [ ! -f "$windows/$file" ]; then
    echo "wine-tests: $windows/$file is missing; build the windows preset first" >&2
    exit 1
  fi
done

start=$(date +%s.%N)
[ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
cmake --build --preset native --target wine_scenarios -j "$(nproc)" >build/native/wine-runner-build.log 2>&1 || { cat build/native/wine-runner-build.log; exit 1; }

built=$(date +%s.%N)

work=$(mktemp -d /tmp/pnx-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko prompts in a fresh prefix: neither is needed.
export WINEDLLOVERRIDES="mscoree,mshtml="
# PNX_WINE_KEEP=1 keeps the run's folder (prefix, configurations, traces, outputs) for a look afterwards.
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  if [ "${PNX_WINE_KEEP:-0}" = 1 ]; then echo "wine-tests: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Wine's background processes inherit standard output: everything wine writes goes to files, never to a
# pipe that a reader would keep open until the wineserver leaves.
# The wineserver stays up for the scenarios' processes (waiting for it to leave would cost its linger time).
"$wine" wineboot -i >"$work/wineboot.log" 2>&1
prefix_done=$(date +%s.%N)

status=0
build/native/tests/wine/wine_scenarios --wine="$wine" --windows-build="$windows" --work="$work" "$@" \
  >"$work/scenarios.log" 2>&1 || status=$?
cat "$work/scenarios.log"
end=$(date +%s.%N)
awk -v a="$start" -v b="$built" -v c="$prefix_done" -v d="$end" \
  'BEGIN { printf "wine-tests: runner build %.1f s, fresh prefix %.1f s, registrations and scenarios %.1f s\n", b - a, c - b, d - c }'
exit $status
