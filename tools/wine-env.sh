# Sourced by the tools: project-local Wine prefixes with a persistent wineserver.
#   wine_arch_available win32|win64 can this host run that prefix? (else prints why)
#   wine_arch_mode      win32|win64 native or emulated (tools/host.sh)
#   wine_drivers_available win32|win64 can kernel-mode drivers (the virtual
#                       reader's) run in that prefix? (else prints why)
#   wine_wow64_available can 32-bit programs run in the 64-bit prefix? (else prints why)
#   wine_prefix_start   win32|win64 create/boot the prefix and keep its wineserver up
#   wine_prefix_stop    win32|win64 stop that wineserver
#   wine ..., winepath ...          run through the loader of the current prefix
# A GUI caller runs start and stop under the same X display (see the design notes on Xvfb).

NORVIK_ROOT=${NORVIK_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
NORVIK_WINE_ROOT=${NORVIK_WINE_ROOT:-$NORVIK_ROOT/build}
source "$NORVIK_ROOT/tools/host.sh"

wine_prefix_path() { echo "$NORVIK_WINE_ROOT/wineprefix-$1"; }

# Debian's /usr/bin/wine picks the 32-bit loader whenever wine32 is installed,
# even for a 64-bit prefix, and that loader cannot start on a 64-bit-only
# host. Each prefix therefore names its own loader; WINELOADER makes Wine
# start the processes it spawns (wineboot, services, regsvr32) the same way.
#
# Where the host runs 32-bit code only through emulation (tools/host.sh), a
# 32-bit prefix starts from the emulated sysroot's loader, with that sysroot
# as qemu's library prefix, and uses the host's own 64-bit wineserver (the
# same Wine version). Nothing is ever put at /usr/lib/wine/wine: 64-bit Wine
# looks there for its 32-bit half.
wine_loader() {
  case "$1" in
    win64) echo /usr/lib/wine/wine64 ;;
    *)
      if norvik_host_32bit_emulated; then
        echo "$NORVIK_EMULATION_DIR/sysroot/usr/lib/wine/wine"
      else
        echo /usr/lib/wine/wine
      fi ;;
  esac
}

wine_arch_available() {
  [ "$1" = win64 ] && return 0
  norvik_host_runs_32bit && return 0
  echo "$(norvik_host_32bit_reason)"
  return 1
}

wine_arch_mode() {
  if [ "$1" = win32 ] && norvik_host_32bit_emulated; then echo emulated; else echo native; fi
}

# Kernel-mode drivers run in winedevice.exe, emulated in a 32-bit prefix
# where the host emulates; the virtual reader's pass there too.
wine_drivers_available() { wine_arch_available "$1"; }

# 64-bit Wine starts the 32-bit programs of its prefix from
# /usr/lib/wine/wine, and on a host that emulates i386 nothing may be there
# (64-bit Wine would then run its 32-bit half through the emulator for every
# prefix, and Debian's launcher would pick it even for 64-bit programs).
wine_wow64_available() {
  wine_arch_available win32 || return 1
  if norvik_host_32bit_emulated; then
    echo "needs native 32-bit code"
    return 1
  fi
}

wine_env() {
  norvik_host_32bit_decide  # here, not in the subshells below, so that it is kept
  export WINEARCH=$1
  export WINEPREFIX
  WINEPREFIX=$(wine_prefix_path "$1")
  export WINELOADER
  WINELOADER=$(wine_loader "$1")
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$(wine_arch_mode "$1")" = emulated ]; then
    export QEMU_LD_PREFIX=$NORVIK_EMULATION_DIR/sysroot WINESERVER=/usr/lib/wine/wineserver64
  else
    unset QEMU_LD_PREFIX WINESERVER
  fi
}

# 32-bit programs start where the host runs them (norvik_exec_32bit: in a
# throwaway namespace when emulation is forced on a capable host); every
# process Wine spawns from there inherits that.
wine() {
  local loader=${WINELOADER:-$(wine_loader "${WINEARCH:-win32}")}
  if [ "${WINEARCH:-win32}" = win32 ]; then norvik_exec_32bit "$loader" "$@"; else "$loader" "$@"; fi
}
wineserver() { "${WINESERVER:-/usr/bin/wineserver}" "$@"; }
# Debian's winepath, wineboot and the like start through /usr/bin/wine too.
winepath() { wine winepath.exe "$@"; }

wine_prefix_start() {
  local arch=$1
  wine_arch_available "$arch" >&2 || return 1
  wine_env "$arch"
  mkdir -p "$NORVIK_WINE_ROOT" "$WINEPREFIX"
  local fresh=0
  [ -f "$WINEPREFIX/system.reg" ] || fresh=1
  # The first process on a new server boots the prefix by itself, so no
  # prefix is initialised a second time: a second init leaves the service
  # manager believing that the drivers started at boot are stopped while they
  # stay loaded. A driver service installed next then fails to start (1053),
  # and one uninstalled stays marked for deletion, so installing it again in
  # the running prefix fails (1055). A fresh prefix finishes its first boot
  # before the persistent server starts.
  if [ "$fresh" = 1 ]; then
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
  fi
  wineserver -p
  wine wineboot >/dev/null 2>&1 || true
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
