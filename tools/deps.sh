#!/usr/bin/env bash
# Installs the Debian packages the build, the run and the tests need, when any is missing.
set -euo pipefail

packages=(
  cmake make g++ python3
  mingw-w64 g++-mingw-w64-x86-64-posix
  googletest libgtest-dev clang libclang-rt-14-dev
  wine wine64
  xvfb openbox xcompmgr x11-xserver-utils xdotool x11-utils imagemagick
  fonts-wine fonts-wqy-microhei
  espeak-ng sox
  faketime libfaketime
  procps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Missing packages and no sudo: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q >&2
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
