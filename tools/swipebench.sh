#!/usr/bin/env bash
# Starts SwipeBench under Wine, in the project's prefix of the program's
# bitness (a 32-bit build in the 32-bit prefix, a 64-bit one in the 64-bit
# prefix, through its own loader).
#
#   tools/swipebench.sh [--install] [--screenshot FILE] [path/to/SwipeBench.exe]
#
# Without a path it takes the newest SwipeBench.exe under build/*/bin that
# this host can run (a 64-bit one where the host runs no 32-bit code). It runs
# on the user's display when there is one, otherwise on a private Xvfb display.
#
#   --install          first registers the service object and the two OPOS
#                      device keys (install.cmd) and the MSR control object,
#                      all from the program's folder
#   --screenshot FILE  always on a private Xvfb display: installs, adds the
#                      logical device name "SecureLaneMSR" for Norvik_MSR-2 if
#                      missing, swipes the sample encrypted card on the
#                      simulated secure reader, saves the main dialog as a PNG
#                      to FILE and closes SwipeBench again (needs the helper
#                      swipebench_demo_driver.exe beside the program)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

arguments=("$@")
install=0
shot=""
exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --install) install=1 ;;
    --screenshot) shot=${2:?--screenshot needs a file}; shift; install=1 ;;
    -h|--help) sed -n '2,20p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) exe=$1 ;;
  esac
  shift
done

source "$here/host.sh"
# The newest build's copy; only the root is quoted, so that a space in it survives the glob.
if norvik_host_runs_32bit; then candidates=("$root"/build/*/bin/SwipeBench.exe)
else candidates=("$root"/build/win64*/bin/SwipeBench.exe); fi
if [ -z "$exe" ]; then
  exe=$(ls -t "${candidates[@]}" 2>/dev/null | head -n 1 || true)
fi
if [ -z "$exe" ] || [ ! -f "$exe" ]; then
  echo "swipebench.sh: SwipeBench.exe not found; build the Windows target SwipeBench first" >&2
  exit 2
fi
if x86_64-w64-mingw32-objdump -f "$exe" 2>/dev/null | grep -q "file format pei-x86-64"; then
  arch=win64
else
  arch=win32
  norvik_host_runs_32bit ||
    { echo "swipebench.sh: $exe is a 32-bit program and $(norvik_host_32bit_reason)" >&2; exit 2; }
fi
bin=$(cd "$(dirname "$exe")" && pwd)
exe=$bin/$(basename "$exe")
if [ -n "$shot" ]; then
  [ -f "$bin/swipebench_demo_driver.exe" ] || {
    echo "swipebench.sh: $bin/swipebench_demo_driver.exe is missing; build swipebench_demo_driver" >&2
    exit 2
  }
  mkdir -p "$(dirname "$shot")"
  shot=$(cd "$(dirname "$shot")" && pwd)/$(basename "$shot")
fi

run() {
  source "$here/wine-env.sh"
  wine_prefix_start "$arch"
  trap 'wine_prefix_stop "$arch"' EXIT
  trap 'exit 130' INT TERM
  # Vorlex.dll and the service object sit beside the program.
  cd "$bin"
  if [ "$install" = 1 ]; then
    local bits=""
    [ "$arch" = win64 ] && bits=64
    wine cmd /c install.cmd $bits >/dev/null 2>&1 || { echo "swipebench.sh: install.cmd failed" >&2; return 1; }
    wine regsvr32 /s NorvikMSRControl.dll >/dev/null 2>&1 ||
      { echo "swipebench.sh: registering NorvikMSRControl.dll failed" >&2; return 1; }
  fi
  if [ -z "$shot" ]; then
    wine "$exe"
    return
  fi

  local msr='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\MSR' added=0 rc=0
  if ! wine reg query "$msr" /v SecureLaneMSR >/dev/null 2>&1; then
    wine reg add "$msr" /v SecureLaneMSR /d Norvik_MSR-2 /f >/dev/null 2>&1
    added=1
  fi
  wine "$exe" &
  local app=$!
  if wine swipebench_demo_driver.exe swipe SecureLaneMSR; then
    sleep 1  # let the last paint reach the X server
    local window
    window=$(xwininfo -root -tree | awk '/"Norvik OPOS MSR Utility v1.13"/ {print $1; exit}')
    if [ -n "$window" ] && import -window "$window" "$shot"; then
      echo "swipebench.sh: saved $shot"
    else
      echo "swipebench.sh: the window could not be captured" >&2
      rc=1
    fi
  else
    rc=1
  fi
  wine swipebench_demo_driver.exe close >/dev/null 2>&1 || true
  wait "$app" || true
  [ "$added" = 1 ] && wine reg delete "$msr" /v SecureLaneMSR /f >/dev/null 2>&1
  return $rc
}

if [ -n "${SWIPEBENCH_ON_XVFB:-}" ] || { [ -n "${DISPLAY:-}" ] && [ -z "$shot" ]; }; then
  run
else
  command -v xvfb-run >/dev/null || { echo "swipebench.sh: no display and no xvfb-run" >&2; exit 2; }
  # Once more, inside the private display (xvfb-run's shell passes no functions on).
  SWIPEBENCH_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "${BASH_SOURCE[0]}" "${arguments[@]}"
fi
