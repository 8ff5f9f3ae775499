#!/usr/bin/env bash
# Installs the Debian packages Lumet needs to build, test and run, when any is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-tools-dev qt6-l10n-tools
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  libpng-dev libjpeg-dev libtiff-dev libopenimageio-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libraw-dev
  python3-dev pybind11-dev python3-numpy python3-pytest
  xvfb xauth xdotool
  parallel
  dpkg-dev file
  python3-venv python3-build lintian
  clang libclang-rt-dev libomp-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "Error: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
