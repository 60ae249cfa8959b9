#!/usr/bin/env bash
# Installs every package the builds and tests need on a fresh Debian 12 machine.
# Safe to run again: it skips the install when everything is present. The apt
# output goes to build/setup.log and is shown only when the install fails.
#
# 32-bit Wine (wine32:i386) is installed only where the kernel runs 32-bit
# code (tools/host.sh): elsewhere it cannot start, and with it installed
# Debian's /usr/bin/wine would pick its 32-bit loader even for 64-bit
# prefixes. There tools/setup-emulation.sh prepares 32-bit Wine under
# build/emu32 instead, run through qemu-i386; so does NORVIK_HOST_32BIT=emulated.
# NORVIK_HOST_32BIT=0 leaves 32-bit Wine out altogether.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/tools/host.sh"

# Which 32-bit Wine this host gets: the package, the emulated one, or none.
case ${NORVIK_HOST_32BIT:-} in
  0|none) wine32=none ;;
  1|native) wine32=package ;;
  *)
    if [ "$(norvik_host_kernel_32bit)" = native ]; then wine32=package; else wine32=emulated; fi
    [ "${NORVIK_HOST_32BIT:-}" = emulated ] && wine32="$wine32 emulated" ;;
esac

emulation() {
  case " $wine32 " in
    *" emulated "*)
      # A failure leaves the host as it was; the 32-bit parts are then skipped.
      bash "$ROOT/tools/setup-emulation.sh" || true ;;
  esac
}

packages=(mingw-w64 mingw-w64-tools libwine-dev wine wine64 cmake make ninja-build
          g++ clang libclang-rt-dev googletest libgtest-dev libbenchmark-dev libxml2-dev
          xvfb xauth imagemagick x11-apps zip unzip fonts-wine python3
          wixl msitools)
case " $wine32 " in *" package "*) packages+=(wine32:i386) ;; esac

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then emulation; exit 0; fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
mkdir -p "$ROOT/build"
log=$ROOT/build/setup.log
echo "== installing ${#missing[@]} packages (a few minutes the first time; log: build/setup.log)"
case " $wine32 " in
  *" package "*) ;;
  *" emulated "*) echo "   without the wine32:i386 package: 32-bit Wine comes through emulation (build/emu32)" ;;
  *) echo "   without 32-bit Wine: $(norvik_host_32bit_reason)" ;;
esac
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
emulation
