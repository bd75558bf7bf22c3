#!/usr/bin/env bash
# Builds the project and runs its main job: the most complete run the system
# offers so far. Until the launcher stands that is the transport underneath
# the show: the slide-master carousel sending a 20 MiB file to three
# receivers (with 0, 10 and 30 percent loss), and, as root, Korin's reliable
# delivery of a live stream to several lossy receivers on separate hosts of
# the namespace lab.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)"
bin=build/release/bin
if [ -x "$bin/orvalo" ]; then
  exec "$bin/orvalo" "$@"
fi

echo "=== Pelago: the slide master's file carousel ==="
"$bin/pelago_carousel_bench"
echo
if [ "$(id -u)" -eq 0 ]; then
  echo "=== Korin: the live stream to receivers on separate lab hosts ==="
  "$bin/korin_lab_bench" fast
else
  echo "Korin's multi-host run needs root (network namespaces); skipped."
fi
