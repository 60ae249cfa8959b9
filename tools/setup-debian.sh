#!/usr/bin/env bash
# Installs every package the builds and tests need on a fresh Debian 12 machine.
# Safe to run again: it skips the install when everything is present.
set -euo pipefail

packages=(mingw-w64 mingw-w64-tools libwine-dev wine wine32:i386 wine64 cmake make ninja-build
          g++ clang libclang-rt-dev googletest libgtest-dev libbenchmark-dev libxml2-dev
          xvfb xauth imagemagick x11-apps zip unzip fonts-wine python3
          wixl msitools)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
