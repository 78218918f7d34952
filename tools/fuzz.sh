#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz), replays every kept regression input, then fuzzes each target
# for a while from its seed corpus. Usage: bash tools/fuzz.sh [--seconds N] [TARGET...]
# (targets by short name: command_line, paths, host_message, host_events, emulator_config, scaler_bmp,
# frame_path; default all). New corpus entries collect in build/fuzz/corpus/, crashing inputs in
# build/fuzz/artifacts/; keep each crashing input in tests/fuzz/regressions/<target>/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  targets=(command_line paths host_message host_events emulator_config scaler_bmp frame_path)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

bin=build/fuzz/fuzz
status=0
summary=()
for t in "${targets[@]}"; do
  exe="$bin/${t}_fuzzer"
  regressions="tests/fuzz/regressions/$t"
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    printf '\n==== %s: replaying %s\n' "$t" "$regressions"
    if ! "$exe" "$regressions"/* >"build/fuzz/$t-regressions.log" 2>&1; then
      echo "fuzz: a regression input of $t fails again (build/fuzz/$t-regressions.log)" >&2
      status=1
    fi
  fi

  printf '\n==== %s: fuzzing %s s\n' "$t" "$seconds"
  corpus="build/fuzz/corpus/$t"
  artifacts="build/fuzz/artifacts/$t/"
  mkdir -p "$corpus" "$artifacts"
  options=()
  [ -f "tests/fuzz/dictionaries/$t.dict" ] && options+=(-dict="tests/fuzz/dictionaries/$t.dict")
  # An event sequence needs room for several events from the start.
  case "$t" in host_events) options+=(-len_control=0 -max_len=1024) ;; esac
  log="build/fuzz/$t.log"
  # New entries go to the build folder's corpus; the repository's seeds are only read. One input may take
  # at most 10 s (a streaming thread is stopped and joined per input in the plug-in targets).
  if "$exe" "$corpus" "tests/fuzz/corpus/$t" "${options[@]}" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=4096 -artifact_prefix="$artifacts" -print_final_stats=1 >"$log" 2>&1; then
    :
  else
    echo "fuzz: $t found a failing input; see $log and $artifacts" >&2
    status=1
  fi
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  summary+=("$(printf '%-16s %s' "$t" "${done_line:-(no final line; see $log)}")")
done

printf '\n==== fuzz summary (%s s per target)\n' "$seconds"
printf '%s\n' "${summary[@]}"
exit $status
