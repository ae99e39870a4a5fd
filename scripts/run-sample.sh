#!/usr/bin/env bash
# Prints the sample label. With a port name as argument it goes to that
# printer; without one, to the bundled emulator, started and stopped here,
# which draws the label into a PNG preview and logs every command decoded.
# The logo is examples/logo.bmp, or the image named in VDL_SAMPLE_LOGO.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
port_name="${1:-}"
logo="${VDL_SAMPLE_LOGO:-$PWD/examples/logo.bmp}"

if [ -n "$port_name" ]; then
  exec "$build/sample_label" "$port_name" ${logo:+"$logo"}
fi

log="$PWD/$build/emulator.log"
previews="$PWD/$build/previews"
status="$PWD/$build/emulator.status"
rm -rf "$previews"
: >"$status"
# Port 0: the system picks a free port, which the emulator reports once it listens.
"$build/vdl-emulator" --port "${VDL_EMULATOR_PORT:-0}" --log "$log" --preview-dir "$previews" --once 2>"$status" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$status")
  [ -n "$port" ] && break
  kill -0 "$emulator" 2>/dev/null || { cat "$status" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "the emulator did not start" >&2; exit 1; }
"$build/sample_label" "127.0.0.1:$port" ${logo:+"$logo"}
wait "$emulator" || true
trap - EXIT
echo "The emulator's decoded log of the commands it received: $log"
for preview in "$previews"/*.png; do
  [ -e "$preview" ] && echo "Preview of the printed label: $preview"
done
