# Sourced by the tools: project-local Wine prefixes with a persistent wineserver.
#   wine_prefix_start win32|win64   create/boot the prefix and keep its wineserver up
#   wine_prefix_stop  win32|win64   stop that wineserver
# A GUI caller runs both under the same X display (see the design notes on Xvfb).

NORVIK_ROOT=${NORVIK_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
NORVIK_WINE_ROOT=${NORVIK_WINE_ROOT:-$NORVIK_ROOT/build}

wine_prefix_path() { echo "$NORVIK_WINE_ROOT/wineprefix-$1"; }

wine_env() {
  export WINEARCH=$1
  export WINEPREFIX
  WINEPREFIX=$(wine_prefix_path "$1")
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

wine_prefix_start() {
  local arch=$1
  wine_env "$arch"
  mkdir -p "$NORVIK_WINE_ROOT" "$WINEPREFIX"
  local fresh=0
  [ -f "$WINEPREFIX/system.reg" ] || fresh=1
  # A fresh prefix finishes its first boot before the persistent server
  # starts, and is not initialised a second time: otherwise a driver service
  # (the virtual reader's) installed next fails to start (1053).
  if [ "$fresh" = 1 ]; then
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    wineserver -p
    wine wineboot >/dev/null 2>&1 || true
  else
    wineserver -p
    wine wineboot -i >/dev/null 2>&1 || wine wineboot >/dev/null 2>&1 || true
  fi
  # Wine's own fonts (Marlett draws the caption buttons), also into an older prefix.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  if [ "$fresh" = 1 ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  fi
  if [ -z "${DISPLAY:-}" ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || true
  else
    wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1 || true
  fi
}

wine_prefix_stop() {
  wine_env "$1"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
