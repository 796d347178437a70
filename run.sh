#!/usr/bin/env bash
# Installs what is missing, builds and starts Farscan. Without configured hardware the program
# runs against the simulated station and a simulated board (see README).
set -euo pipefail
cd "$(dirname "$0")"
repo=$PWD
./scripts/setup.sh

build=${FARSCAN_BUILD:-build}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target farscan farscan-sim portiva portiva_cli

bin="$PWD/$build/bin"
# The program keeps Farscan.txt in its working directory; give it a station folder.
station=${FARSCAN_STATION_DIR:-$HOME/.local/share/Farscan}
mkdir -p "$station"
cd "$station"

# No board on the bus: let the library present a simulated one.
if [[ -z "${PORTIVA_SIM:-}" ]] && ! grep -qsi '^04b4$' /sys/bus/usb/devices/*/idVendor; then
  export PORTIVA_SIM=1
fi

# No serial port configured by the environment: start the station simulator (transceivers, GPS,
# rotor controller, sensor box on pseudo-terminals; a DX cluster on 127.0.0.1) and point the
# program at it.
# FARSCAN_REAL_STATION=1 skips it.
if [[ -z "${FARSCAN_REAL_STATION:-}" ]] && ! env | grep '^FARSCAN_COM[0-9]*=' >/dev/null; then
  rm -f "$station/farscan-sim.env"
  "$bin/farscan-sim" --env-file "$station/farscan-sim.env" >"$station/farscan-sim.log" 2>&1 &
  sim=$!
  trap 'kill "$sim" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do
    [[ -s "$station/farscan-sim.env" ]] && break
    sleep 0.1
  done
  # shellcheck disable=SC1091
  source "$station/farscan-sim.env"
  export FARSCAN_AUDIO=${FARSCAN_AUDIO:-beacon}
  echo "run: simulated station, log in $station/farscan-sim.log"
  # A new log starts with a few simulated beacons, so there is something to pick.
  data=${FARSCAN_DATA_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/Farscan}
  if [[ ! -e "$data/backup.mdb" ]]; then
    set -- --import-beacons "$repo/sim/beacons.csv" "$@"
  fi
fi
"$bin/farscan" "$@"
