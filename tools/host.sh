# Sourced by the tools: what this build host can execute, decided once.
#
#   norvik_host_runs_32bit    succeeds when the host runs 32-bit (i386) code
#   norvik_host_32bit_reason  one line saying why 32-bit Windows code is skipped
#
# The answer comes from running a tiny static i386 program, not from package
# names or kernel options: some hosts have IA-32 emulation switched off, and
# every i386 binary, 32-bit Wine included, fails there with "Exec format
# error". NORVIK_HOST_32BIT=0 forces the 64-bit-only path on any host (so the
# fallback is tested on capable machines too); =1 skips the probe. The result
# is exported, so the scripts and tests started from here ask only once.

norvik_probe_32bit() {
  local dir probe rc
  dir=$(mktemp -d "${TMPDIR:-/tmp}/norvik-host.XXXXXX") || return 1
  probe=$dir/exit42
  # ELF32 header, one PT_LOAD segment at 0x08048000, then
  # mov eax,1 / mov ebx,42 / int 0x80: exit(42) without any library.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  [ "$rc" -eq 42 ]
}

norvik_host_runs_32bit() {
  if [ -z "${NORVIK_HOST_32BIT:-}" ]; then
    if norvik_probe_32bit; then NORVIK_HOST_32BIT=1; else NORVIK_HOST_32BIT=0; fi
    NORVIK_HOST_32BIT_PROBED=$NORVIK_HOST_32BIT
    export NORVIK_HOST_32BIT NORVIK_HOST_32BIT_PROBED
  fi
  [ "$NORVIK_HOST_32BIT" = 1 ]
}

norvik_host_32bit_reason() {
  if [ "${NORVIK_HOST_32BIT_PROBED:-}" = 0 ]; then
    echo "this host cannot run 32-bit code"
  else
    echo "32-bit code is switched off on this host (NORVIK_HOST_32BIT=0)"
  fi
}
