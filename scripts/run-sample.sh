#!/usr/bin/env bash
# Prints the sample label. With a port name as argument it goes to that
# printer; without one, to the bundled emulator, started and stopped here.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
port_name="${1:-}"

if [ -n "$port_name" ]; then
  exec "$build/sample_label" "$port_name"
fi

log="$PWD/$build/emulator.log"
status="$PWD/$build/emulator.status"
port="${VDL_EMULATOR_PORT:-9100}"
: >"$status"
"$build/vdl-emulator" --port "$port" --log "$log" --once 2>"$status" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true' EXIT
# The emulator says so on its standard error once it listens.
for _ in $(seq 100); do
  grep -q listening "$status" && break
  kill -0 "$emulator" 2>/dev/null || { cat "$status" >&2; exit 1; }
  sleep 0.1
done
"$build/sample_label" "127.0.0.1:$port"
wait "$emulator" || true
trap - EXIT
echo "The emulator's log of the commands it received: $log"
