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
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
