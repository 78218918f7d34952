#!/usr/bin/env bash
# Installs what the project builds, tests and runs with, from Debian's packages only.
# Idempotent and non-interactive; run as root. Installs nothing that is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libwebsocketpp-dev libasio-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine64
  libswscale-dev libyuv-dev
  chromium chromium-driver python3-selenium python3-pytest nodejs
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
