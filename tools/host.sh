# Sourced by the tools: how this build host runs 32-bit (i386) code, decided once.
#
#   norvik_host_32bit_mode    prints native, emulated or none
#   norvik_host_runs_32bit    succeeds when the mode is native or emulated
#   norvik_host_32bit_emulated succeeds when the mode is emulated
#   norvik_host_32bit_reason  one line saying why 32-bit Windows code is skipped
#   norvik_exec_32bit CMD...  runs CMD where its i386 programs run in that mode
#
# The answer comes from running a tiny static i386 program, not from package
# names or kernel options. Some hosts have IA-32 emulation switched off, and
# every i386 binary, 32-bit Wine included, fails there with "Exec format
# error". There tools/setup-emulation.sh registers qemu-i386 with the
# kernel's binfmt_misc, and the same program then runs emulated; it tells the
# two apart by the machine that uname reports to it (x86_64 natively, i686
# under qemu).
#
# NORVIK_HOST_32BIT forces a mode on any host, so that each path is tested
# on capable machines too: 0 (or none) the 64-bit-only path, emulated the
# emulated one, 1 (or native) native without the probe. Emulation forced on a
# host that runs i386 natively never changes how the host runs its own 32-bit
# programs: each command that starts 32-bit code (norvik_exec_32bit) runs in a
# throwaway user and mount namespace with a binfmt_misc instance of its own,
# where i386 programs go to the project's qemu-i386 (Linux 6.7 or later).
# The result is exported, so the scripts and tests started from here ask once.

NORVIK_ROOT=${NORVIK_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
NORVIK_EMULATION_DIR=${NORVIK_EMULATION_DIR:-$NORVIK_ROOT/build/emu32}

# Exits 42 when the kernel ran it natively, 43 when it ran emulated.
norvik_probe_32bit() {
  local dir probe rc
  dir=$(mktemp -d "${TMPDIR:-/tmp}/norvik-host.XXXXXX") || return 1
  probe=$dir/probe
  # ELF32 header, one PT_LOAD segment at 0x08048000, then: uname(esp),
  # ebx = machine[0] == 'x' ? 42 : 43, exit(ebx). No library involved.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x7e\x00\x00\x00\x7e\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\x81\xec\x90\x01\x00\x00\x89\xe3\xb8\x7a\x00\x00\x00\xcd\x80'\
'\x80\xbc\x24\x04\x01\x00\x00\x78\xbb\x2b\x00\x00\x00\x75\x05'\
'\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  return "$rc"
}

# What the kernel does with i386 programs: native, emulated or none.
norvik_host_kernel_32bit() {
  norvik_probe_32bit
  case $? in
    42) echo native ;;
    43) echo emulated ;;
    *) echo none ;;
  esac
}

# The emulator and the 32-bit sysroot that tools/setup-emulation.sh prepares.
norvik_emulation_ready() {
  [ -f "$NORVIK_EMULATION_DIR/ready" ] && [ -x "$NORVIK_EMULATION_DIR/qemu-i386" ] &&
    [ -x "$NORVIK_EMULATION_DIR/sysroot/usr/lib/wine/wine" ]
}

# Decides the mode once per value of NORVIK_HOST_32BIT (a script may force
# another for its children) and exports it.
norvik_host_32bit_decide() {
  local asked=${NORVIK_HOST_32BIT:-probe} kernel
  [ "${NORVIK_HOST_32BIT_ASKED:-}" = "$asked" ] && [ -n "${NORVIK_HOST_32BIT_MODE:-}" ] && return
  NORVIK_HOST_32BIT_ASKED=$asked NORVIK_EMULATION_SANDBOX= NORVIK_HOST_32BIT_PROBED=
  case $asked in
    0|none) NORVIK_HOST_32BIT_MODE=none ;;
    1|native) NORVIK_HOST_32BIT_MODE=native ;;
    *)
      kernel=$(norvik_host_kernel_32bit)
      NORVIK_HOST_32BIT_PROBED=$kernel
      NORVIK_HOST_32BIT_MODE=$kernel
      if ! norvik_emulation_ready; then
        # An emulator registered by some other setup is no use without our sysroot.
        [ "$kernel" = emulated ] && NORVIK_HOST_32BIT_MODE=none
        [ "$asked" = emulated ] && NORVIK_HOST_32BIT_MODE=none
      elif [ "$asked" = emulated ] && [ "$kernel" = native ]; then
        NORVIK_HOST_32BIT_MODE=none
        if norvik_sandbox_works; then NORVIK_HOST_32BIT_MODE=emulated NORVIK_EMULATION_SANDBOX=1; fi
      fi ;;
  esac
  export NORVIK_HOST_32BIT_ASKED NORVIK_HOST_32BIT_MODE NORVIK_HOST_32BIT_PROBED NORVIK_EMULATION_SANDBOX
}

norvik_host_32bit_mode() { norvik_host_32bit_decide; echo "$NORVIK_HOST_32BIT_MODE"; }
norvik_host_runs_32bit() { norvik_host_32bit_decide; [ "$NORVIK_HOST_32BIT_MODE" != none ]; }
norvik_host_32bit_emulated() { norvik_host_32bit_decide; [ "$NORVIK_HOST_32BIT_MODE" = emulated ]; }

norvik_host_32bit_reason() {
  norvik_host_32bit_decide
  local setup="32-bit emulation is not set up (bash tools/setup-emulation.sh)"
  case $NORVIK_HOST_32BIT_ASKED:$NORVIK_HOST_32BIT_PROBED in
    0:*|none:*) echo "32-bit code is switched off on this host (NORVIK_HOST_32BIT=0)" ;;
    emulated:native)
      if norvik_emulation_ready; then
        echo "NORVIK_HOST_32BIT=emulated, but this kernel gives a namespace no binfmt_misc of its own"
      else
        echo "NORVIK_HOST_32BIT=emulated, but $setup"
      fi ;;
    *:emulated) echo "this host emulates i386 through binfmt_misc, but $setup" ;;
    *)
      if norvik_emulation_ready; then
        echo "this host cannot run 32-bit code, and its emulator is not registered (bash tools/setup-emulation.sh, as root)"
      else
        echo "this host cannot run 32-bit code, and $setup"
      fi ;;
  esac
}

# The line of i386 that binfmt_misc is given: ELF32, little-endian, EM_386
# executables and shared objects, handed to our qemu-i386 with the
# interpreter opened once (F) and argv[0] kept (P).
norvik_binfmt_rule() {
  printf ':%s:M::%s:%s:%s:FP' "$1" \
    '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
    '\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' \
    "$NORVIK_EMULATION_DIR/qemu-i386"
}

# Can this kernel give a throwaway namespace a binfmt_misc of its own?
norvik_sandbox_works() {
  command -v unshare >/dev/null || return 1
  NORVIK_EMULATION_SANDBOX_INSIDE= norvik_sandbox_exec bash -c \
    'source "$1/tools/host.sh"; norvik_probe_32bit; [ $? = 43 ]' _ "$NORVIK_ROOT" 2>/dev/null
}

norvik_exec_32bit() {
  [ -n "${NORVIK_EMULATION_SANDBOX_INSIDE:-}" ] || norvik_host_32bit_decide
  if [ "${NORVIK_EMULATION_SANDBOX:-}" = 1 ] && [ -z "${NORVIK_EMULATION_SANDBOX_INSIDE:-}" ]; then
    norvik_sandbox_exec "$@"
  else
    "$@"
  fi
}

# CMD in a new user and mount namespace whose own binfmt_misc hands i386
# programs to our qemu-i386; what CMD starts stays in there.
norvik_sandbox_exec() {
  NORVIK_EMULATION_SANDBOX_INSIDE=1 NORVIK_BINFMT_RULE=$(norvik_binfmt_rule norvik-i386) \
    unshare --user --map-root-user --mount --propagation private sh -c '
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
        printf "%s" "$NORVIK_BINFMT_RULE" >/proc/sys/fs/binfmt_misc/register || exit 126
      unset NORVIK_BINFMT_RULE
      exec "$@"' sh "$@"
}
