#!/usr/bin/env bash
# run-example.sh ARCH(win32|win64) EXAMPLE.exe EXPECTED_OUTPUT
# Runs the example under the project's Wine prefix of ARCH and compares its
# output (line ends normalised) with the expected text; exit code must be 0.
set -uo pipefail
arch=$1 exe=$2 expected=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
raw=$(mktemp)
trap 'rm -f "$raw"' EXIT
bash "$here/../../tools/wine-run.sh" "$arch" "$exe" >"$raw" 2>/dev/null
rc=$?
actual=$(tr -d '\r' <"$raw")
if [ "$rc" -ne 0 ]; then
  echo "the example exited with $rc; its output:"
  echo "$actual"
  exit 1
fi
if ! diff -u "$expected" <(echo "$actual"); then
  echo "the example's output differs from $expected (above)"
  exit 1
fi
echo "the example printed what the guide shows"
