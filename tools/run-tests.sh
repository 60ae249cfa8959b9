#!/usr/bin/env bash
# Builds everything and runs every test: native (plain, ASan/UBSan, TSan of
# the thread tests), the fuzz targets for a bounded time, the Windows builds
# under Wine (each suite WINDOWS_ROUNDS times, every round in a new random
# order, so that no test leans on what an earlier one left behind), checks of
# both builds' binaries that execute no 32-bit code, the dist/ folder, the
# release archive with its install test, and the Windows Installer packages
# dist/NorvikMSR-<version>-x86.msi and -x64.msi with theirs.
#
# 32-bit code runs natively where the host can, and otherwise through
# user-mode emulation (qemu-i386, set up by tools/setup-emulation.sh); the
# summary names the mode of each stage that ran 32-bit code. Kernel-mode
# drivers in a 32-bit prefix and the 32-bit half of the 64-bit prefix (wow64)
# need native 32-bit code. Where there is neither (NORVIK_HOST_32BIT=0 forces
# that path; =emulated forces emulation) the 32-bit Windows tests and the
# 32-bit parts of the install test are reported as skipped, with the reason,
# never as passed.
#
#   tools/run-tests.sh            all stages
#   STAGES="native win32" ...     some stages only (wow64: the 32-bit virtual
#                                 reader test in the 64-bit prefix; after win32, win64)
#   FUZZ_SECONDS=20               time per fuzz target
#   WINDOWS_ROUNDS=2              shuffled runs of each Windows suite
#   EMULATED_ROUNDS=2             shuffled runs of the emulated win32 suite
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source tools/host.sh
bash tools/setup-debian.sh || { echo "setup failed"; exit 1; }

STAGES=${STAGES:-"native asan tsan fuzz win32 win64 wow64 binaries mainjob package release"}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
WINDOWS_ROUNDS=${WINDOWS_ROUNDS:-2}
# Emulation makes the 32-bit suite a few times slower (about 4 min a round
# against 1.5 natively): both rounds still keep the run well inside CI's time;
# EMULATED_ROUNDS=1 halves that on a slow host.
EMULATED_ROUNDS=${EMULATED_ROUNDS:-$WINDOWS_ROUNDS}
JOBS=${JOBS:-2}
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
failed=()
passed=()
skipped=()
times=()
mode32=$(norvik_host_32bit_mode)
case $mode32 in
  native) echo "host: runs 32-bit and 64-bit code" ;;
  emulated) echo "host: runs 64-bit code, and 32-bit code through emulation (qemu-i386, build/emu32)" ;;
  *) echo "host: $(norvik_host_32bit_reason); its 32-bit Windows code is built and checked, not run" ;;
esac

# A stage as the summary names it: with the mode of the 32-bit code it ran.
stage_label() {
  case $1:$mode32 in
    *:none | binaries:* | package:* | native:* | asan:* | tsan:* | fuzz:* | win64:*) echo "$1" ;;
    win32:* | wow64:*) echo "$1 ($mode32)" ;;
    *) echo "$1 (32-bit $mode32)" ;;
  esac
}

# Scripts that leave out a part append "part: reason" lines here.
export NORVIK_SKIP_LOG=$ROOT/build/skipped.log
mkdir -p build
: >"$NORVIK_SKIP_LOG"

stage() {  # stage NAME COMMAND...
  local name=$1 rc started=$SECONDS label; shift
  echo
  echo "=== $name"
  "$@"; rc=$?
  label=$(stage_label "$name")
  case $rc in
    0) passed+=("$label"); times+=("$name $((SECONDS - started))s") ;;
    77) ;;  # skipped as a whole: the stage logged why
    *) failed+=("$label"); times+=("$name $((SECONDS - started))s"); echo "=== $name FAILED" ;;
  esac
  local line
  while IFS= read -r line; do skipped+=("$line"); echo "=== skipped $line"; done <"$NORVIK_SKIP_LOG"
  : >"$NORVIK_SKIP_LOG"
}

configure_and_build() {  # DIR [cmake args...]
  local dir=$1; shift
  echo "--- configuring and building $dir"
  cmake -S . -B "$dir" "${GENERATOR[@]}" -DNORVIK_TEST_GROUPS= "$@" >"$dir.configure.log" 2>&1 \
    || { mkdir -p "$dir"; cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j"$JOBS" 2>&1 | grep -E "error|Error|warning: " ; return "${PIPESTATUS[0]}"
}

native() {
  python3 tools/check-layers.py || return 1
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

windows() {  # ARCH(win32|win64) TOOLCHAIN BUILD_DIR
  local arch=$1 toolchain=$2 dir=$3 reason rounds=$WINDOWS_ROUNDS exclude=
  configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" || return 1
  if ! reason=$(source tools/wine-env.sh && wine_arch_available "$arch"); then
    echo "$arch: Windows tests under Wine: $reason" >>"$NORVIK_SKIP_LOG"
    return 77
  fi
  if [ "$(source tools/wine-env.sh && wine_arch_mode "$arch")" = emulated ]; then
    rounds=$EMULATED_ROUNDS
    echo "--- emulated: $rounds shuffled round(s)"
  fi
  if ! reason=$(source tools/wine-env.sh && wine_drivers_available "$arch"); then
    exclude='^virtual_reader'
    echo "$arch: the virtual reader's driver tests (virtual_reader_test, virtual_reader_stack_test): $reason" \
      >>"$NORVIK_SKIP_LOG"
  fi
  # Windows need a display (hidden windows of COM objects, the utility's dialogs);
  # the wineserver and wineboot run under the same one.
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    arch=$1; dir=$2; rounds=$3; exclude=$4
    source tools/wine-env.sh
    echo "--- preparing the Wine prefix build/wineprefix-$arch"
    wine_prefix_start "$arch" || exit 1
    rc=0
    for round in $(seq 1 "$rounds"); do
      # A new order of the executables and of the cases inside each.
      seed=$((RANDOM % 99999 + 1))
      echo "--- round $round of $rounds: shuffled (ctest --schedule-random, GTEST_RANDOM_SEED=$seed)"
      (cd "$dir" && GTEST_SHUFFLE=1 GTEST_RANDOM_SEED=$seed \
         ctest --schedule-random --output-on-failure ${exclude:+-E "$exclude"}) || rc=1
    done
    wine_prefix_stop "$arch"
    exit $rc' _ "$arch" "$dir" "$rounds" "$exclude"
}

win32() { windows win32 cmake/mingw-i686.cmake build/win32; }
win64() { windows win64 cmake/mingw-x86_64.cmake build/win64; }

# The 32-bit reader library over the 64-bit virtual reader driver (WoW64):
# the 32-bit build's test in the 64-bit prefix, which the 64-bit tool installs.
wow64() {
  local test=build/win32/bin/virtual_reader_test.exe tool=build/win64/bin/virtual-reader/VirtualReader.exe reason
  if ! reason=$(source tools/wine-env.sh && wine_wow64_available); then
    echo "wow64: the 32-bit virtual reader test in the 64-bit prefix: $reason" >>"$NORVIK_SKIP_LOG"
    return 77
  fi
  [ -f "$test" ] && [ -f "$tool" ] || { echo "wow64: needs the win32 and win64 stages' builds"; return 1; }
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    source tools/wine-env.sh
    wine_prefix_start win64 || exit 1
    wine "$2" install && (cd "$(dirname "$1")" && wine ./virtual_reader_test.exe --gtest_color=no); rc=$?
    wine_prefix_stop win64
    exit $rc' _ "$test" "$tool"
}

# What needs no 32-bit execution is checked on every host, for both builds.
binaries() {
  configure_and_build build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake &&
    configure_and_build build/win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake &&
    bash tests/windows_binaries/check.sh build/win32 build/win64
}

# The README's main job, on this host's path and, where the host runs 32-bit
# code, on the 64-bit-only path too.
mainjob() {
  local forced ok=0 out
  for forced in "" 0; do
    if [ -z "$forced" ]; then
      echo "--- bash tools/demo.sh"
      out=$(bash tools/demo.sh 2>&1)
    else
      norvik_host_runs_32bit || continue
      echo "--- NORVIK_HOST_32BIT=0 bash tools/demo.sh"
      out=$(NORVIK_HOST_32BIT=0 bash tools/demo.sh 2>&1)
    fi
    local rc=$?
    echo "$out" | grep -E "^(== |[0-9]+-bit session|Session complete)" | sed 's/^/    /'
    if [ "$rc" -ne 0 ] || ! echo "$out" | grep -q '^Session complete\.' ||
       { [ -n "$forced" ] && ! echo "$out" | grep -q '^64-bit session: '; }; then
      echo "$out" | tail -n 40
      ok=1
    fi
  done
  return $ok
}

package() { bash tools/package.sh; }
# The release archive and the Windows Installer packages, each installed into
# fresh prefixes and used from there.
release() {
  bash tools/release.sh || return 1
  local rc=0
  bash tests/windows_release/install-test.sh || rc=1
  bash tests/windows_release/msi-test.sh || rc=1
  return $rc
}

for s in $STAGES; do stage "$s" "$s"; done

echo
echo "=== summary"
echo "stages passed:  ${passed[*]:-none}"
echo "stages FAILED:  ${failed[*]:-none}"
if [ ${#skipped[@]} -eq 0 ]; then
  echo "skipped:        nothing"
else
  printf 'skipped:        %s\n' "${skipped[0]}"
  [ ${#skipped[@]} -lt 2 ] || printf '                %s\n' "${skipped[@]:1}"
fi
echo "times:          ${times[*]:-none}"
echo "${#passed[@]} passed, ${#failed[@]} failed, ${#skipped[@]} skipped"
[ ${#failed[@]} -eq 0 ]
