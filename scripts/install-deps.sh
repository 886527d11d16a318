#!/usr/bin/env bash
# Installs the Debian 12 packages the recorder needs to build, run and test.
# Idempotent: installs only what is missing. Works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-webchannel-dev libqt6webenginecore6-bin libgl-dev
  libcurl4-openssl-dev libpugixml-dev libcpp-httplib-dev libicu-dev
  xvfb xauth fonts-dejavu-core xdotool chromium
  dpkg-dev desktop-file-utils debootstrap
  nodejs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Debian's npm, unless a nodejs build that brings its own is installed.
if ! command -v npm >/dev/null; then
  missing+=(npm)
fi

if [ ${#missing[@]} -ne 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The HAR 1.2 schema check tst_har runs (npm har-schema and ajv) and the
# driver tst_check records a HAR with through Debian's Chromium (playwright-core,
# which downloads no browser); versions fixed by the lock file.
har_schema=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tools/har-schema" && pwd)
if [ ! -d "$har_schema/node_modules/har-schema" ] || [ ! -d "$har_schema/node_modules/playwright-core" ]; then
  (cd "$har_schema" && npm ci --no-audit --no-fund --silent)
fi
