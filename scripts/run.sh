#!/usr/bin/env bash
# Starts the Plexmar program from the build folder given as $1; further
# arguments go to the program. Without a display it runs headless on Qt's
# offscreen platform (it says so); Ctrl+C shuts it down in order.
set -euo pipefail
build=${1:-build}
if [ ! -x "$build/plexmar" ]; then
  echo "Plexmar: $build/plexmar was not built (was the build configured with -DPLEXMAR_GUI=OFF?)" >&2
  exit 1
fi
# A first start gets the demo project; an existing plexmar.tst is never touched.
if [ ! -e "$build/plexmar.tst" ] && [ -x "$build/demo/plexmar_demo" ]; then
  "$build/demo/plexmar_demo" "$(dirname "$0")/../demo/demo-project.txt" "$build/plexmar.tst"
fi
exec "$build/plexmar" "${@:2}"
