#!/usr/bin/env bash
# Starts SwipeBench under Wine, in the project's 32-bit prefix.
#   tools/swipebench.sh [path/to/SwipeBench.exe]
# Without a path it takes the first SwipeBench.exe found under build/*/bin.
# On the user's display when there is one, otherwise on a private Xvfb
# display (for smoke runs).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

exe=${1:-}
if [ -z "$exe" ]; then
  exe=$(ls -t "$root"/build/*/bin/SwipeBench.exe 2>/dev/null | head -n 1 || true)
fi
if [ -z "$exe" ] || [ ! -f "$exe" ]; then
  echo "swipebench.sh: SwipeBench.exe not found; build the Windows target SwipeBench first" >&2
  exit 2
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

run() {
  source "$here/wine-env.sh"
  wine_prefix_start win32
  trap 'wine_prefix_stop win32' EXIT
  # Vorlex.dll and the service object sit beside the program.
  cd "$(dirname "$exe")"
  wine "$exe"
}

if [ -n "${DISPLAY:-}" ]; then
  run
else
  command -v xvfb-run >/dev/null || { echo "swipebench.sh: no display and no xvfb-run" >&2; exit 2; }
  export -f run
  export here exe
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c run
fi
