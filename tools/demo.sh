#!/usr/bin/env bash
# The main job: builds the product and runs a swipe session under Wine. The
# session is 32-bit where the host runs 32-bit code, and 64-bit otherwise
# (tools/host.sh decides). It reads the virtual reader (the real HID path):
#   tools/demo.sh               virtual reader; a failed driver install stops it
#   tools/demo.sh --simulated   Vorlex's built-in simulated reader
set -euo pipefail
# The reader the session reads: the virtual one unless --simulated.
session_args=--virtual
case "${1:-}" in
  --simulated) session_args= ;;
  "") ;;
  *) echo "usage: tools/demo.sh [--simulated]" >&2; exit 2 ;;
esac
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source tools/host.sh
bash tools/setup-debian.sh

if norvik_host_runs_32bit; then
  arch=win32 toolchain=cmake/mingw-i686.cmake
  headline="32-bit session"
  norvik_host_32bit_emulated && headline="32-bit session (emulated: qemu-i386)"
else
  arch=win64 toolchain=cmake/mingw-x86_64.cmake
  headline="64-bit session: $(norvik_host_32bit_reason)"
fi
dir=build/$arch
mkdir -p build
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
echo "== configuring $dir (log: $dir.demo-configure.log)"
cmake -S . -B "$dir" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$dir.demo-configure.log" 2>&1 \
  || { cat "$dir.demo-configure.log"; exit 1; }
echo "== building the session program and the product (log: $dir.demo-build.log)"
cmake --build "$dir" -j2 --target SwipeSession >"$dir.demo-build.log" 2>&1 \
  || { tail -n 40 "$dir.demo-build.log"; exit 1; }
# The control object raises events through a hidden window: run under a display.
echo "== preparing the Wine prefix build/wineprefix-$arch"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  arch=$1 dir=$2 headline=$3
  source tools/wine-env.sh
  wine_prefix_start "$arch" >/dev/null 2>&1 || { echo "the $arch Wine prefix did not start"; exit 1; }
  trap "wine_prefix_stop $arch" EXIT
  cd "$dir/bin"
  echo "== running"
  echo
  echo "$headline"
  echo "Registering NorvikMSRSO.dll and the OPOS device keys (install.cmd), the MSR control object,"
  echo "and two logical device names: FrontCounterMSR -> Norvik_MSR-1, SecureLaneMSR -> Norvik_MSR-2"
  echo "(Norvik_MSR-2 with PowerReporting 1: it reports power and reconnects a reader plugged back in)"
  msr="HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR"
  bits=; [ "$arch" = win64 ] && bits=64
  wine cmd /c install.cmd $bits >/dev/null 2>&1 &&
    wine regsvr32 /s NorvikMSRControl.dll >/dev/null 2>&1 &&
    wine reg add "$msr" /v FrontCounterMSR /d Norvik_MSR-1 /f >/dev/null 2>&1 &&
    wine reg add "$msr" /v SecureLaneMSR /d Norvik_MSR-2 /f >/dev/null 2>&1 &&
    wine reg add "$msr\\Norvik_MSR-2" /v PowerReporting /t REG_DWORD /d 1 /f >/dev/null 2>&1 &&
    echo || { echo "registration failed"; exit 1; }
  # The virtual reader: install its driver first, or say why not and stop.
  if [ -n "$4" ]; then
    echo "Installing the virtual reader (virtual-reader\\VirtualReader.exe install)"
    if ! vr_error=$(wine virtual-reader/VirtualReader.exe install 2>&1 >/dev/null); then
      echo "demo: the virtual reader could not be installed: ${vr_error:-VirtualReader install failed}" >&2
      echo "demo: run tools/demo.sh --simulated for the built-in simulated reader" >&2
      exit 1
    fi
    echo
  fi
  wine SwipeSession.exe $4' _ "$arch" "$dir" "$headline" "$session_args"
