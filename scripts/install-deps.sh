#!/usr/bin/env bash
# install-deps.sh -- installs with apt-get the Debian packages that building,
# running and testing need, when the machine lacks any of them.
# Usage: scripts/install-deps.sh [build|test]   (default: build)
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-private-dev libxcb1-dev libcivetweb-dev libtomlplusplus-dev libssl-dev
          fonts-dejavu-core xvfb xauth)
if [ "${1:-build}" = test ]; then
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev xdotool x11-utils libxcb-damage0-dev imagemagick dpkg-dev file binutils
            systemd procps
            scdoc lintian appstream desktop-file-utils weston qt6-wayland libweston-10-dev prometheus python3
            chromium firefox-esr iproute2)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# The browser pages' pinned npm packages (web/package-lock.json), which the
# monitor embeds when it is built: fetched with the integrity hashes of the
# lock file, and again whenever the lock file is newer than what was fetched.
web_packages() {
  local web stamp
  web="$(cd "$(dirname "$0")/.." && pwd)/web"
  stamp="$web/node_modules/.package-lock.json"
  [ -f "$stamp" ] && [ "$stamp" -nt "$web/package-lock.json" ] && return 0
  echo "Fetching the pages' npm packages (web/package-lock.json)"
  npm ci --prefix "$web" --ignore-scripts --no-audit --no-fund --loglevel=error
}

command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -eq 0 ]; then
  web_packages
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
web_packages
