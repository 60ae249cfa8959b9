#!/usr/bin/env bash
# Installs every package the builds and tests need on a fresh Debian 12 machine.
# Safe to run again: it skips the install when everything is present. The apt
# output goes to build/setup.log and is shown only when the install fails.
#
# 32-bit Wine (wine32:i386) is installed only where the host runs 32-bit code
# (tools/host.sh): elsewhere it cannot start, and with it installed Debian's
# /usr/bin/wine would pick its 32-bit loader even for 64-bit prefixes.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/tools/host.sh"

packages=(mingw-w64 mingw-w64-tools libwine-dev wine wine64 cmake make ninja-build
          g++ clang libclang-rt-dev googletest libgtest-dev libbenchmark-dev libxml2-dev
          xvfb xauth imagemagick x11-apps zip unzip fonts-wine python3
          wixl msitools)
if norvik_host_runs_32bit; then
  packages+=(wine32:i386)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
mkdir -p "$ROOT/build"
log=$ROOT/build/setup.log
echo "== installing ${#missing[@]} packages (a few minutes the first time; log: build/setup.log)"
norvik_host_runs_32bit || echo "   without 32-bit Wine: $(norvik_host_32bit_reason)"
{
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $SUDO dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one index now and then: try again, and
  # otherwise go on with the lists apt has; the install says if they fall short.
  $SUDO apt-get update -q || { sleep 5; $SUDO apt-get update -q; } ||
    echo "apt-get update failed twice; installing from the package lists apt has"
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
} >"$log" 2>&1 || { tail -n 40 "$log"; echo "package installation failed (whole log: build/setup.log)"; exit 1; }
