#!/usr/bin/env bash
# The main job: builds the project, then mirrors a scripted slide show from a
# presenter to two viewers started through the launcher, one of which joins
# after the show began. As root they run on three hosts of a namespace lab;
# otherwise as processes of this machine on loopback. It prints, step by
# step, what each viewer shows beside what the presenter shows, and ends with
# one line saying whether every viewer followed the whole show.
#   scripts/run.sh                 the show
#   scripts/run.sh --loss 10       the same with 10 % real loss on each viewer (root)
#   scripts/run.sh --help          the show's other options
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
echo "Building (the first time takes a few minutes)..."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" >build/release-build.log 2>&1 || {
  tail -n 40 build/release-build.log
  echo "The build failed; the whole log is build/release-build.log." >&2
  exit 1
}
exec build/release/bin/orvalo_show "$@"
