#!/usr/bin/env bash
# The main job: set-up, the native build of the plug-in and the development host, and one run of the plug-in
# against pnx-devhost on the demo scenario, printing the whole exchange ("->" sent by the host, "<-" received).
# With --web: the same build, then pnx-devhost serves a panel page with the plug-in's property inspector and
# prints its URL; open it in a browser, Ctrl+C ends it.
set -euo pipefail
cd "$(dirname "$0")/.."

web=0
case "${1:-}" in
  --web) web=1 ;;
  "") ;;
  *) echo "usage: bash tools/run-demo.sh [--web]" >&2; exit 2 ;;
esac

bash tools/setup.sh

build=build/native
mkdir -p "$build"
log="$build/demo-build.log"
echo "building the plug-in and the development host (log: $log) ..."
if ! { cmake --preset native && cmake --build --preset native --target BrelvonMultiview pnx-devhost -j "$(nproc)"; } \
    >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "run-demo: the build failed; the whole log is in $log" >&2
  exit 1
fi

if [ "$web" = 1 ]; then
  # The emulated device of the demo configuration; its property requests are recorded in the trace.
  export PNX_SIM_DEVICES="$PWD/tools/devhost/demo-devices.json" PNX_SIM_TRACE="$PWD/$build/web-device-trace.jsonl"
  echo "starting $build/pnx-devhost --web with the bundle $build/com.brelvon.multiview.pxPlugin;" \
       "open the URL below in a browser (Ctrl+C ends):" >&2
  exec "$build/pnx-devhost" --web "$build/com.brelvon.multiview.pxPlugin"
fi

images="$build/demo-images"
rm -rf "$images"
# The emulated capture device (tools/devhost/demo-devices.json: one device, no signal on input 3) records
# every property request the plug-in makes of it.
trace="$build/demo-device-trace.jsonl"
rm -f "$trace"
export PNX_SIM_DEVICES="$PWD/tools/devhost/demo-devices.json" PNX_SIM_TRACE="$PWD/$trace"
echo "running $build/BrelvonMultiview against $build/pnx-devhost with tools/devhost/demo-scenario.json"
status=0
"$build/pnx-devhost" --exchange --elide-images --save-images "$images" \
  "$build/BrelvonMultiview" tools/devhost/demo-scenario.json || status=$?

echo
echo "property requests received by the emulated device (631 layout, 632 sources packed one input per"
echo "nibble, 25 read after each layout write), in order:"
grep -E '"op":"(get|set)"' "$trace" 2>/dev/null || echo "(none recorded)"

count=$(find "$images" -name '*.bmp' 2>/dev/null | wc -l)
if [ "$count" -gt 0 ]; then
  echo "$count preview images saved in $images"
fi
exit "$status"
