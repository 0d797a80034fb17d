#!/usr/bin/env bash
# Builds and runs the HTTP benchmark: our client against curl, one GET of a
# large body from a loopback server, time and peak memory as ratios.
#   bench/run_http.sh [--size-mib N] [--runs N]
# The build folder is build-bench unless BUILD_DIR says otherwise.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-bench}"
command -v curl >/dev/null || { echo "curl is missing (scripts/deps installs it)" >&2; exit 1; }
# The same configuration as bench/run, which shares the build folder.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATE_BENCH=ON \
  -DUPDATE_GUI=ON >/dev/null
cmake --build "$build" --target HttpBench HttpGetOnce
"$build/bench/HttpBench" "$@"
