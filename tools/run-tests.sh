#!/usr/bin/env bash
# Builds everything and runs every test: native (plain, ASan/UBSan, TSan of
# the thread tests), the fuzz targets for a bounded time, and the Windows
# build under Wine (32-bit prefix; the 64-bit build is built and its
# registration and session tests run in a 64-bit prefix). Leaves the Windows
# binaries in dist/ and the release archive dist/NorvikMSR-<version>.zip.
#
#   tools/run-tests.sh            all stages
#   STAGES="native win32" ...     some stages only (wow64: the 32-bit virtual
#                                 reader test in the 64-bit prefix; after win32, win64)
#   FUZZ_SECONDS=20               time per fuzz target
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
bash tools/setup-debian.sh || { echo "setup failed"; exit 1; }

STAGES=${STAGES:-"native asan tsan fuzz win32 win64 wow64 package release"}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
JOBS=${JOBS:-2}
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
failed=()
passed=()

stage() {  # stage NAME COMMAND...
  local name=$1; shift
  echo
  echo "=== $name"
  if "$@"; then passed+=("$name"); else failed+=("$name"); echo "=== $name FAILED"; fi
}

configure_and_build() {  # DIR [cmake args...]
  local dir=$1; shift
  mkdir -p build
  cmake -S . -B "$dir" "${GENERATOR[@]}" -DNORVIK_TEST_GROUPS= "$@" >"$dir.configure.log" 2>&1 \
    || { mkdir -p "$dir"; cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$JOBS" 2>&1 | grep -E "error|Error|warning: " ; return "${PIPESTATUS[0]}"
}

native() {
  configure_and_build build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVIK_BENCH=ON || return 1
  (cd build/native && ctest -j"$JOBS" --output-on-failure)
}

asan() {
  configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DNORVIK_SANITIZER=address,undefined \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || return 1
  (cd build/asan && ctest -j"$JOBS" --output-on-failure)
}

tsan() {
  configure_and_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVIK_SANITIZER=thread \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || return 1
  (cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
     ctest -j"$JOBS" -L thread --output-on-failure)
}

fuzz() {
  configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVIK_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || return 1
  local ok=0 target
  for target in build/fuzz/bin/fuzz_*; do
    [ -x "$target" ] || continue
    local corpus="build/fuzz/corpus/$(basename "$target")"
    mkdir -p "$corpus"
    echo "--- $(basename "$target") for ${FUZZ_SECONDS}s"
    if "$target" "$corpus" -max_total_time="$FUZZ_SECONDS" -max_len=4096 -print_final_stats=0 \
         >"$corpus.log" 2>&1; then
      tail -n 1 "$corpus.log"
    else
      cat "$corpus.log" | tail -n 40; ok=1
    fi
  done
  return $ok
}

windows() {  # ARCH(win32|win64) TOOLCHAIN BUILD_DIR [ctest args...]
  local arch=$1 toolchain=$2 dir=$3; shift 3
  configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" || return 1
  # Windows need a display (hidden windows of COM objects, the utility's dialogs);
  # the wineserver and wineboot run under the same one.
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    arch=$1; dir=$2; shift 2
    source tools/wine-env.sh
    wine_prefix_start "$arch" || exit 1
    (cd "$dir" && ctest --output-on-failure "$@"); rc=$?
    wine_prefix_stop "$arch"
    exit $rc' _ "$arch" "$dir" "$@"
}

win32() { windows win32 cmake/mingw-i686.cmake build/win32; }
win64() { windows win64 cmake/mingw-x86_64.cmake build/win64; }
# The 32-bit reader library over the 64-bit virtual reader driver (WoW64):
# the 32-bit build's test in the 64-bit prefix, which the 64-bit tool installs.
wow64() {
  local test=build/win32/bin/virtual_reader_test.exe tool=build/win64/bin/virtual-reader/VirtualReader.exe
  [ -f "$test" ] && [ -f "$tool" ] || { echo "wow64: needs the win32 and win64 stages' builds"; return 1; }
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    source tools/wine-env.sh
    wine_prefix_start win64 || exit 1
    wine "$2" install && (cd "$(dirname "$1")" && wine ./virtual_reader_test.exe --gtest_color=no); rc=$?
    wine_prefix_stop win64
    exit $rc' _ "$test" "$tool"
}
package() { bash tools/package.sh; }
# The release archive, installed into a fresh prefix and used from there.
release() { bash tools/release.sh && bash tests/windows_release/install-test.sh; }

for s in $STAGES; do stage "$s" "$s"; done

echo
echo "stages passed: ${passed[*]:-none}"
[ ${#failed[@]} -eq 0 ] || { echo "stages FAILED: ${failed[*]}"; exit 1; }
