#!/usr/bin/env bash
# Installs the Debian packages the project needs (apt-get update runs only
# when something is missing), then configures and builds into build/.
#   scripts/setup.sh            install and build (Release)
#   scripts/setup.sh --no-build install only
set -euo pipefail
cd "$(dirname "$0")/.."

PKGS=(build-essential cmake pkg-config libfltk1.3-dev libcjson-dev libgtest-dev libgmock-dev
      libbenchmark-dev gettext xvfb xdotool x11-utils x11-apps imagemagick)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ "${1:-}" = "--no-build" ] && exit 0

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
