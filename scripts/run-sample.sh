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
port=9100
"$build/vdl-emulator" --port "$port" --log "$log" --once &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
"$build/sample_label" "127.0.0.1:$port"
wait "$emulator" || true
trap - EXIT
echo "The emulator's log of the commands it received: $log"
