#!/usr/bin/env bash
# Installs the Debian packages that building and testing Plexmar need.
# Idempotent and quiet when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  fonts-dejavu-core
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev python3-pymodbus python3-serial python3-serial-asyncio mbpoll socat
  clang libclang-rt-14-dev
  dbus-daemon libglib2.0-bin
  nodejs
  poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# Some Node.js builds carry their own npm; Debian's is a package of its own.
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# node-opcua, the OPC UA peer of the tests and benchmarks, exactly as its
# lock file pins it, into tests/opcua/peer/node_modules (ignored by git). The
# copy of the lock file left there tells whether it is still current.
peer="$(cd "$(dirname "$0")/.." && pwd)/tests/opcua/peer"
if ! cmp -s "$peer/package-lock.json" "$peer/node_modules/.plexmar-lock" 2>/dev/null; then
  echo "Installing node-opcua into $peer/node_modules" >&2
  (cd "$peer" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  cp "$peer/package-lock.json" "$peer/node_modules/.plexmar-lock"
fi
