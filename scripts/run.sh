#!/usr/bin/env bash
# Builds the project and runs its main job: the most complete run the system
# offers so far.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)"
bin=build/release/bin
if [ -x "$bin/orvalo" ]; then
  exec "$bin/orvalo" "$@"
fi
# Until the launcher stands, the platform tests are the most complete run.
exec "$bin/platform_test"
