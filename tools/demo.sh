#!/usr/bin/env bash
# The main job: builds the 32-bit product and runs a swipe session against
# the simulated reader under Wine.
set -euo pipefail
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
  wine SwipeSession.exe; rc=$?
  wine_prefix_stop win32
  exit $rc'
