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
exec "$build/plexmar" "${@:2}"
