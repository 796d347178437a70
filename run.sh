#!/usr/bin/env bash
# Installs what is missing, builds and starts Farscan. Without configured hardware the
# program runs against the simulated station (see README).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

build=${FARSCAN_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

bin="$PWD/$build/bin"
# The program keeps Farscan.txt in its working directory; give it a station folder.
station=${FARSCAN_STATION_DIR:-$HOME/.local/share/Farscan}
mkdir -p "$station"
cd "$station"

# No board on the bus: let the library present a simulated one.
if [[ -z "${PORTIVA_SIM:-}" ]] && ! grep -qsi '^04b4$' /sys/bus/usb/devices/*/idVendor; then
  export PORTIVA_SIM=1
fi
exec "$bin/farscan" "$@"
