#!/usr/bin/env bash
# Collects the Windows deliverables of both builds into dist/: dist/x86 and
# dist/x64 hold the binaries, dist/include the public headers.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
PRODUCT=(Vorlex.dll Vorlex.lib NorvikMSRSO.dll NorvikMSRControl.dll SwipeBench.exe)
rm -rf dist
mkdir -p dist/include dist/x86 dist/x64
cp reader/Vorlex.h reader/VorlexSimulator.h dist/include/
for pair in "win32:x86" "win64:x64"; do
  build=build/${pair%%:*}/bin; out=dist/${pair##*:}
  [ -d "$build" ] || { echo "no build in $build"; continue; }
  for f in "${PRODUCT[@]}"; do
    if [ -f "$build/$f" ]; then cp "$build/$f" "$out/"; fi
  done
done
# The virtual reader (a test tool) goes beside the product, in its own folder.
for pair in "win32:x86" "win64:x64"; do
  vr=build/${pair%%:*}/bin/virtual-reader
  if [ -f "$vr/VirtualReader.exe" ]; then
    mkdir -p "dist/${pair##*:}/virtual-reader"
    cp "$vr"/* "dist/${pair##*:}/virtual-reader/"
  fi
done
# The reader library is the foundation: both architectures must carry it.
test -f dist/x86/Vorlex.dll && test -f dist/x64/Vorlex.dll
ls -l dist/*
