#!/usr/bin/env bash
# Smoke run of the Windows build under wine against the native development host: the plug-in must register,
# take a few events and exit with code 0 once the host closes. Uses a fresh wine prefix in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

exe=build/windows/BrelvonMultiview.exe
devhost=build/native/pnx-devhost
if [ ! -f "$exe" ]; then
  echo "wine-smoke: $exe is missing; build the windows preset first" >&2
  exit 1
fi
if [ ! -x "$devhost" ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native --target pnx-devhost -j "$(nproc)"
fi

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
work="$PWD/build/windows/wine-smoke"
rm -rf "$work"
mkdir -p "$work"
export WINE="$wine" WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Wine's output goes to files, never to a pipe: the wineserver lingers and would hold a pipe open.
start=$(date +%s)
"$wine" wineboot -i >"$work/wineboot.log" 2>&1
echo "wine-smoke: fresh prefix ready in $(( $(date +%s) - start )) s"

status=0
"$devhost" --wine --timeout-ms 60000 --plugin-output "$work/plugin.log" "$exe" tools/devhost/smoke-scenario.json \
  >"$work/received.jsonl" 2>"$work/devhost.log" || status=$?
"$wineserver" -k >/dev/null 2>&1 || true

sed 's/^/  /' "$work/devhost.log"
echo "  messages received: $(wc -l <"$work/received.jsonl")"
if [ "$status" -ne 0 ] || ! grep -q '^pnx-devhost: registration received$' "$work/devhost.log" \
    || ! grep -q '^pnx-devhost: plug-in exit code 0$' "$work/devhost.log"; then
  echo "wine-smoke: FAILED (pnx-devhost status $status; logs in $work)" >&2
  exit 1
fi
echo "wine-smoke: passed in $(( $(date +%s) - start )) s"
