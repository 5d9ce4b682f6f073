#!/usr/bin/env bash
# Sets the machine up, builds the host programs and runs the demonstration on a
# fresh emulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-machine.sh

cmake --preset host
cmake --build --preset host
exec demo/demo.sh "$PWD/build/host/bin" "${1:-$PWD/build/demo-device}"
