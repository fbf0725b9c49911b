#!/usr/bin/env bash
# Runs every benchmark built in the build folder given as $1 (bench/), one
# after the other, so that their figures do not disturb each other.
set -euo pipefail
build=${1:-build}
found=0
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[ "$found" = 1 ] || echo "No benchmarks are built in $build/bench."
