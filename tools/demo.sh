#!/usr/bin/env bash
# The main job: builds the 32-bit product and runs a swipe session under Wine,
# over the virtual reader (the real HID path) by default:
#   tools/demo.sh               virtual reader; a failed driver install stops it
#   tools/demo.sh --simulated   Vorlex's built-in simulated reader
set -euo pipefail
SESSION_ARGS=--virtual
case "${1:-}" in
  --simulated) SESSION_ARGS= ;;
  "") ;;
  *) echo "usage: tools/demo.sh [--simulated]" >&2; exit 2 ;;
esac
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
bash tools/setup-debian.sh
mkdir -p build
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
cmake -S . -B build/win32 "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >build/win32.demo-configure.log 2>&1 \
  || { cat build/win32.demo-configure.log; exit 1; }
cmake --build build/win32 -j2 --target SwipeSession >build/win32.demo-build.log 2>&1 \
  || { tail -n 40 build/win32.demo-build.log; exit 1; }
# The control object raises events through a hidden window: run under a display.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  source tools/wine-env.sh
  wine_prefix_start win32 >/dev/null 2>&1
  cd build/win32/bin
  echo "Registering NorvikMSRSO.dll and the OPOS device keys (install.cmd), the MSR control object,"
  echo "and two logical device names: FrontCounterMSR -> Norvik_MSR-1, SecureLaneMSR -> Norvik_MSR-2"
  msr="HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR"
  wine cmd /c install.cmd >/dev/null 2>&1 &&
    wine regsvr32 /s NorvikMSRControl.dll >/dev/null 2>&1 &&
    wine reg add "$msr" /v FrontCounterMSR /d Norvik_MSR-1 /f >/dev/null 2>&1 &&
    wine reg add "$msr" /v SecureLaneMSR /d Norvik_MSR-2 /f >/dev/null 2>&1 &&
    echo || { echo "registration failed"; exit 1; }
  # ---- virtual reader: install its driver first, or say why not and stop.
  if [ -n "$1" ]; then
    echo "Installing the virtual reader (virtual-reader\\VirtualReader.exe install)"
    if ! vr_error=$(wine virtual-reader/VirtualReader.exe install 2>&1 >/dev/null); then
      echo "demo: the virtual reader could not be installed: ${vr_error:-VirtualReader install failed}" >&2
      echo "demo: run tools/demo.sh --simulated for the built-in simulated reader" >&2
      wine_prefix_stop win32
      exit 1
    fi
    echo
  fi
  wine SwipeSession.exe $1; rc=$?
  wine_prefix_stop win32
  exit $rc' _ "$SESSION_ARGS"
