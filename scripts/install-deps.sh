#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
#   --with-browser   also the headless browser that the recording page's test uses
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libdw-dev libunwind-dev nlohmann-json3-dev lldb binutils
          libcli11-dev libpng-dev zlib1g-dev
          clang libclang-rt-14-dev)  # the fuzz targets: clang and its libFuzzer runtime
if [[ "${1:-}" == "--with-browser" ]]; then packages+=(chromium); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
