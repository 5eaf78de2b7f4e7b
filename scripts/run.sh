#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Navora and starts it. Extra arguments go to the program (e.g. -profile NAME).
# Without arguments it starts the "demo" profile, which replays a recorded trip as if a
# GPS were connected.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DNAVORA_BUILD_TESTS=OFF -DNAVORA_BUILD_BENCH=OFF
cmake --build build/release --target navora navora-tool builtin_charts
if [ "$#" -eq 0 ]; then set -- -profile demo; fi
exec build/release/navora "$@"
