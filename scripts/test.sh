#!/usr/bin/env bash
# Sets the machine up and runs every test: the host build, the host build
# again under AddressSanitizer and UndefinedBehaviorSanitizer, then the win32
# build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-machine.sh

cmake --preset host
cmake --build --preset host
ctest --preset host -j2

cmake --preset host-asan
cmake --build --preset host-asan
ctest --preset host-asan -j2

cmake --preset win32
cmake --build --preset win32
ctest --preset win32
