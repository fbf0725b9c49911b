#!/usr/bin/env bash
# Starts the Plexmar program from the build folder given as $1.
set -euo pipefail
build=${1:-build}
if [ ! -x "$build/plexmar" ]; then
  echo "Plexmar: the libraries and tests are built, but the program itself is not yet part of this tree; there is nothing to run yet." >&2
  exit 0
fi
exec "$build/plexmar" "${@:2}"
