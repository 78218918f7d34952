#!/usr/bin/env bash
# Installs what the project builds, tests and runs with, from Debian's packages only.
# Idempotent and non-interactive; run as root. Installs nothing that is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libwebsocketpp-dev libasio-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine64
  zlib1g-dev libz-mingw-w64-dev
  libswscale-dev libyuv-dev
  chromium chromium-driver python3-selenium python3-pytest nodejs
  clang libclang-rt-14-dev
)

# npm only where the installed node does not bring its own (Debian packages it apart from nodejs).
command -v npm >/dev/null 2>&1 || packages+=(npm)

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

# The browser tests' accessibility checker. Debian does not package it: it comes from the npm registry, at the
# exact version and checksum of tests/web/axe/package-lock.json, into tests/web/axe/node_modules. Tests only;
# nothing of it is built into or shipped with the plug-in.
axe_dir="$(cd "$(dirname "$0")/.." && pwd)/tests/web/axe"
axe_wanted="$(sed -n 's/.*"axe-core": "\([0-9.]*\)".*/\1/p' "$axe_dir/package.json")"
axe_have="$(sed -n 's/^  "version": "\([0-9.]*\)".*/\1/p' "$axe_dir/node_modules/axe-core/package.json" 2>/dev/null || true)"
if [ "$axe_have" != "$axe_wanted" ]; then
  npm ci --prefix "$axe_dir" --no-audit --no-fund --ignore-scripts --loglevel=error >/dev/null
fi
