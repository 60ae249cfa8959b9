# Sourced by the release tests: one line per check, and skipped parts logged
# with the host's reason (into $NORVIK_SKIP_LOG when the test command set it).
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "  ok    $what"; else echo "  FAIL  $what"; failures=$((failures + 1)); fi
}
skip() {  # skip PART: not run on this host, and why
  local reason
  reason=$(norvik_host_32bit_reason)
  echo "  SKIP  $1: $reason"
  [ -z "${NORVIK_SKIP_LOG:-}" ] || echo "release: $1: $reason" >>"$NORVIK_SKIP_LOG"
}
