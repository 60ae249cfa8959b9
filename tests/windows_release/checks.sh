# Sourced by the release tests: one line per check, and skipped parts logged
# with the host's reason (into $NORVIK_SKIP_LOG when the test command set it).
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "  ok    $what"; else echo "  FAIL  $what"; failures=$((failures + 1)); fi
}
skip() {  # skip PART [REASON]: not run on this host, and why (default: the host's reason)
  local reason=${2:-}
  [ -n "$reason" ] || reason=$(norvik_host_32bit_reason)
  echo "  SKIP  $1: $reason"
  [ -z "${NORVIK_SKIP_LOG:-}" ] || echo "release: $1: $reason" >>"$NORVIK_SKIP_LOG"
}
