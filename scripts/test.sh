#!/usr/bin/env bash
# Installs what the build needs (when missing), then configures, builds and
# tests the project: a normal build, an AddressSanitizer+UBSan build that also
# runs the fuzz targets, and a ThreadSanitizer build over the threaded tests.
#   scripts/test.sh                 all three
#   ORVALO_BUILDS="release" scripts/test.sh   only the ones named
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=${ORVALO_JOBS:-$(nproc)}
builds=${ORVALO_BUILDS:-"release asan tsan"}

scripts/deps.sh

configure_and_test() {
  local name=$1; shift
  local dir=$top/build/$name
  echo "=== $name build ==="
  cmake -S "$top" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  echo "=== $name tests ==="
  (cd "$dir" && ctest -j "$jobs" --output-on-failure ${CTEST_ARGS:-})
}

for b in $builds; do
  case $b in
    release)
      configure_and_test release -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan)
      CC=clang CXX=clang++ configure_and_test asan -DCMAKE_BUILD_TYPE=Debug \
        -DORVALO_SANITIZE=address -DORVALO_FUZZ=ON ;;
    tsan)
      CTEST_ARGS="-L threads" CC=clang CXX=clang++ configure_and_test tsan \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALO_SANITIZE=thread ;;
    *) echo "unknown build '$b' (release, asan, tsan)" >&2; exit 2 ;;
  esac
done
echo "=== all builds passed: $builds ==="
