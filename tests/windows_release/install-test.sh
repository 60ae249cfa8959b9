#!/usr/bin/env bash
# Installs the release archive into fresh Wine prefixes and runs OPOS sessions
# through the installed copy, as a POS machine would.
#
# The archive: its layout, SHA256SUMS, the bitness of its binaries, and the
# version resource of NorvikMSRSO.dll as Windows reads it (GetFileVersionInfo)
# against the version numbers of tools/release.sh.
#
# 32-bit Windows (fresh 32-bit prefix): x86\install.cmd from the unpacked
# folder and regsvr32 of the unpacked NorvikMSRControl.dll; both
# InprocServer32 paths must point into that folder and the two OPOS device
# keys must be there. Then the session program (demo/SwipeSession.cpp), copied
# to a folder of its own, runs: it finds the control object and the service
# object through their registration, and Vorlex.dll (which it drives as the
# simulated reader) through PATH set to the unpacked folder; nothing of the
# build tree is on its way. The user guide's C example is compiled against the
# unpacked include\ and lib\ and run. Uninstalling leaves no NorvikMSR.SO
# ProgID, class or device key.
#
# 64-bit Windows (fresh 64-bit prefix): x86\install.cmd and x64\install.cmd 64
# side by side; each registry view gets its own registration and device keys
# (the 32-bit ones under WOW6432Node); a 32-bit and a 64-bit session run, each
# through its own installed copy; both uninstall scripts leave nothing in
# either view.
#
# On a host that cannot run 32-bit code the 32-bit prefix and the 32-bit
# (WoW64) half of the 64-bit prefix are skipped, each with its reason, in the
# output and in $NORVIK_SKIP_LOG when that is set; the archive checks and the
# version resources (read by a 64-bit probe) run everywhere.
#
#   tests/windows_release/install-test.sh [ZIP [WIN32_BUILD_DIR [WIN64_BUILD_DIR]]]
#     ZIP              default dist/NorvikMSR-<version>.zip (the version of tools/release.sh)
#     *_BUILD_DIR      where SwipeSession.exe is built, default build/win32 and build/win64
#   RELEASE_TEST_DIR   work folder and Wine root, default build/release-test (emptied first)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$ROOT"

if [ "${NORVIK_INSTALL_TEST_DISPLAY:-}" != 1 ]; then
  VERSION=$(sed -n 's/^VERSION=//p' tools/release.sh)
  FILE_VERSION=$(sed -n 's/^FILE_VERSION=//p' tools/release.sh)
  NAME=NorvikMSR-$VERSION
  ZIP=${1:-dist/$NAME.zip}
  WIN32_DIR=${2:-build/win32}
  WIN64_DIR=${3:-build/win64}
  WORK=${RELEASE_TEST_DIR:-build/release-test}
  [ -f "$ZIP" ] || { echo "no archive at $ZIP (run tools/release.sh)"; exit 1; }
  ZIP=$(realpath "$ZIP")
  for dir in "$WIN32_DIR" "$WIN64_DIR"; do
    cmake --build "$dir" -j"${JOBS:-2}" --target SwipeSession >/dev/null 2>&1 ||
      { echo "SwipeSession does not build in $dir"; exit 1; }
  done
  WIN32_DIR=$(cd "$WIN32_DIR" && pwd)
  WIN64_DIR=$(cd "$WIN64_DIR" && pwd)
  rm -rf "$WORK"
  mkdir -p "$WORK"
  WORK=$(cd "$WORK" && pwd)
  # Prefixes of our own, created now: nothing registered from the build tree.
  export NORVIK_WINE_ROOT=$WORK/wine
  export VERSION FILE_VERSION NAME ZIP WIN32_DIR WIN64_DIR WORK NORVIK_INSTALL_TEST_DISPLAY=1
  # Everything that starts Wine runs under one display: the control object
  # raises its events through a hidden window.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "${BASH_SOURCE[0]}" </dev/null
fi

source tools/wine-env.sh
source tests/windows_release/checks.sh
runs_32bit() { norvik_host_runs_32bit; }

install_root='C:\NorvikMSR'
x86_win="$install_root\\$NAME\\x86"
x64_win="$install_root\\$NAME\\x64"
msr='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\MSR'

# ---- Registry helpers (the current prefix) -----------------------------------------

reg_default() {  # KEY [VIEW]: the key's default value
  wine reg query "$1" /ve ${2:+/reg:$2} 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_\(EXPAND_\)\{0,1\}SZ[[:space:]]*//p' | head -n 1
}
no_key() { ! wine reg query "$1" ${2:+/reg:$2} >/dev/null 2>&1; }
same_path() { [ "${1,,}" = "${2,,}" ]; }
device_key_ok() {  # KEY DEVICETYPE [VIEW]
  [ "$(reg_default "$1" "${3:-}")" = NorvikMSR.SO ] &&
    wine reg query "$1" /v DeviceType ${3:+/reg:$3} 2>/dev/null | tr -d '\r' |
    grep -Eq "REG_DWORD[[:space:]]+0x0*$2\$"
}
device_keys_ok() {  # MSR_KEY [VIEW]: both device keys with their reader kinds
  device_key_ok "$1\\Norvik_MSR-1" 0 "${2:-}" && device_key_ok "$1\\Norvik_MSR-2" 1 "${2:-}"
}
no_device_keys() { no_key "$1\\Norvik_MSR-1" "${2:-}" && no_key "$1\\Norvik_MSR-2" "${2:-}"; }
# ProgIDs are shared by both registry views; class keys are per view. (Wine's
# 64-bit reg.exe finds no ProgID at all when asked with /reg:32.)
no_progids() {  # [VIEW]: neither ProgID, nor the service object's class in that view
  no_key 'HKCR\NorvikMSR.SO' && no_key 'HKCR\NorvikMSR.Control' &&
    { [ -z "${so_clsid:-}" ] || no_key "HKCR\\CLSID\\$so_clsid" "${1:-}"; }
}
server_of() {  # PROGID [VIEW]: the InprocServer32 path of the ProgID's class in that view
  local clsid
  clsid=$(reg_default "HKCR\\$1\\CLSID")
  [ -n "$clsid" ] && reg_default "HKCR\\CLSID\\$clsid\\InprocServer32" "${2:-}"
}
unpack() {  # into the current prefix's C:\NorvikMSR
  mkdir -p "$WINEPREFIX/drive_c/NorvikMSR"
  unzip -q -o "$ZIP" -d "$WINEPREFIX/drive_c/NorvikMSR"
}
unpacked() { echo "$WINEPREFIX/drive_c/NorvikMSR/$NAME"; }

# Runs a copy of the session program from a folder of its own with PATH set to
# an installed folder; checks that it completes and reports the right version.
session() {  # LABEL SWIPESESSION.EXE INSTALLED_WINDOWS_FOLDER APP_FOLDER_NAME
  local label=$1 exe=$2 installed=$3 app=$WINEPREFIX/drive_c/$4 out=$WORK/session-$4.txt rc
  mkdir -p "$app"
  cp "$exe" "$app/"
  check "$label: the application's folder holds no DLL" bash -c '! ls "$1"/*.dll >/dev/null 2>&1' _ "$app"
  (cd "$app" && WINEPATH="$installed" wine SwipeSession.exe 2>/dev/null | tr -d '\r' >"$out")
  rc=$?
  sed 's/^/    /' "$out"
  check "$label: the session program exits with 0" test "$rc" -eq 0
  check "$label: the session completes" grep -q '^Session complete\.$' "$out"
  check "$label: ServiceObjectVersion reads $UPOS_VERSION (product version $VERSION) in both devices" \
    test "$(grep -c "ServiceObjectVersion *$UPOS_VERSION\$" "$out")" = 2
  check "$label: a swipe arrives as a DataEvent with its tracks" bash -c '
    grep -q "DataEvent  Status 8749 " "$1" &&
    grep -q "Track1Data *B4111111111111111^DOE/JOHN Q^2512101123456789$" "$1"' _ "$out"
  check "$label: the encrypting reader's swipe carries encrypted track data" \
    grep -q 'Track1EncryptedData *[0-9A-F]\{16,\}$' "$out"
}

IFS=. read -r major minor _ build <<<"$VERSION"
UPOS_VERSION=$((major * 1000000 + minor * 1000 + build))

# ---- The archive, and 32-bit Windows ---------------------------------------------

echo "=== the archive $ZIP"
dir=$WORK/archive/$NAME
mkdir -p "$WORK/archive"
unzip -q -o "$ZIP" -d "$WORK/archive" || { echo "unzip failed"; exit 1; }
expected_files() {
  local arch f
  printf '%s\n' README.txt SHA256SUMS include/Vorlex.h include/VorlexSimulator.h \
    docs/user-guide.md docs/examples/vorlex_example.c
  for arch in x86 x64; do
    echo "lib/$arch/Vorlex.lib"
    for f in Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll install.cmd uninstall.cmd NorvikMSR.reg; do
      echo "$arch/$f"
    done
  done
}
layout_ok() {
  local missing
  missing=$(expected_files | while read -r f; do [ -f "$dir/$f" ] || echo "$f"; done)
  [ -z "$missing" ] || { echo "    missing:" $missing; return 1; }
}
check "the archive holds every deliverable under $NAME/" layout_ok
swipebench_consistent() {
  if [ -f "$dir/x86/SwipeBench.exe" ]; then [ -f "$dir/x64/SwipeBench.exe" ]; else [ ! -f "$dir/x64/SwipeBench.exe" ]; fi
}
check "SwipeBench.exe is in both architectures or in neither" swipebench_consistent
sums_ok() {
  (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || return 1
  local listed present
  listed=$(cut -c67- "$dir/SHA256SUMS" | LC_ALL=C sort)
  present=$(cd "$dir" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
  [ "$listed" = "$present" ] || { echo "    SHA256SUMS does not list exactly the files of the archive"; return 1; }
}
check "SHA256SUMS lists every other file and matches" sums_ok
formats_ok() {
  local f
  for f in Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll; do
    x86_64-w64-mingw32-objdump -f "$dir/x86/$f" | grep -q "format pei-i386" || return 1
    x86_64-w64-mingw32-objdump -f "$dir/x64/$f" | grep -q "format pei-x86-64" || return 1
  done
}
check "the x86 binaries are 32-bit, the x64 ones 64-bit" formats_ok
guide_example_ok() {
  # The guide shows the example and its output verbatim, in fenced blocks.
  python3 - "$dir/docs/user-guide.md" docs/examples/vorlex_example.c docs/examples/vorlex_example.out <<'EOF'
import sys
guide = open(sys.argv[1], encoding="utf-8").read()
for path in sys.argv[2:]:
    text = open(path, encoding="utf-8").read()
    if "\n" + text + "```" not in guide:
        print("    the guide does not show " + path + " verbatim")
        sys.exit(1)
EOF
}
check "the packed user guide shows the C example and its output verbatim" guide_example_ok
echo "--- the user guide's C example, compiled against the unpacked include\\ and lib\\"
example=$WORK/vorlex_example
check "it compiles as C11 and links lib\\x86\\Vorlex.lib" \
  i686-w64-mingw32-gcc -std=c11 -Wall -Wextra -Werror -I"$dir/include" \
  "$dir/docs/examples/vorlex_example.c" "$dir/lib/x86/Vorlex.lib" -o "$example.x86.exe"
check "it compiles as C11 and links lib\\x64\\Vorlex.lib" \
  x86_64-w64-mingw32-gcc -std=c11 -Wall -Wextra -Werror -I"$dir/include" \
  "$dir/docs/examples/vorlex_example.c" "$dir/lib/x64/Vorlex.lib" -o "$example.x64.exe"

install_32bit_windows() {
  echo
  echo "=== 32-bit Windows: fresh prefix in $NORVIK_WINE_ROOT"
  wine_prefix_start win32 >/dev/null 2>&1 || { echo "the 32-bit Wine prefix did not start"; exit 1; }
  unpack || { echo "unzip failed"; wine_prefix_stop win32; exit 1; }
  dir=$(unpacked)

  echo "--- install from the unpacked x86 folder"
  check "the prefix has no NorvikMSR.SO before installing" no_key 'HKCR\NorvikMSR.SO'
  (cd "$dir/x86" && wine cmd /c install.cmd >/dev/null 2>&1)
  check "x86\\install.cmd succeeds" test $? -eq 0
  so_clsid=$(reg_default 'HKCR\NorvikMSR.SO\CLSID')
  echo "    NorvikMSR.SO $so_clsid -> $(server_of NorvikMSR.SO)"
  check "NorvikMSRSO's InprocServer32 is the unpacked x86\\NorvikMSRSO.dll" \
    same_path "$(server_of NorvikMSR.SO)" "$x86_win\\NorvikMSRSO.dll"
  check "device keys Norvik_MSR-1 (DeviceType 0) and Norvik_MSR-2 (1) name NorvikMSR.SO" device_keys_ok "$msr"
  wine regsvr32 /s "$x86_win\\NorvikMSRControl.dll" >/dev/null 2>&1
  check "regsvr32 of the unpacked x86\\NorvikMSRControl.dll succeeds" test $? -eq 0
  echo "    NorvikMSR.Control -> $(server_of NorvikMSR.Control)"
  check "the control's InprocServer32 is the unpacked x86\\NorvikMSRControl.dll" \
    same_path "$(server_of NorvikMSR.Control)" "$x86_win\\NorvikMSRControl.dll"
  wine reg add "$msr" /v FrontCounterMSR /d Norvik_MSR-1 /f >/dev/null 2>&1
  wine reg add "$msr" /v SecureLaneMSR /d Norvik_MSR-2 /f >/dev/null 2>&1

  echo "--- OPOS session through the installed copy"
  session "32-bit" "$WIN32_DIR/bin/SwipeSession.exe" "$x86_win" PosApp

  echo "--- the user guide's C example"
  (cd "$WORK" && WINEPATH="$x86_win" wine "$example.x86.exe" 2>/dev/null | tr -d '\r' >"$example.x86.txt")
  check "the x86 example exits with 0" test $? -eq 0
  check "the x86 example prints what the guide shows" diff -u docs/examples/vorlex_example.out "$example.x86.txt"

  echo "--- uninstall"
  wine regsvr32 /u /s "$x86_win\\NorvikMSRControl.dll" >/dev/null 2>&1
  check "regsvr32 /u of the control succeeds" test $? -eq 0
  check "no NorvikMSR.Control ProgID is left" no_key 'HKCR\NorvikMSR.Control'
  (cd "$dir/x86" && wine cmd /c uninstall.cmd >/dev/null 2>&1)
  check "x86\\uninstall.cmd succeeds" test $? -eq 0
  check "no NorvikMSR.SO ProgID is left" no_key 'HKCR\NorvikMSR.SO'
  check "no NorvikMSRSO class is left" no_key "HKCR\\CLSID\\$so_clsid"
  check "no OPOS device key is left" no_device_keys "$msr"
  wine_prefix_stop win32
}

if runs_32bit; then
  install_32bit_windows
else
  skip "32-bit Windows (install, OPOS session, C example and uninstall in a fresh 32-bit prefix)"
fi

# ---- 64-bit Windows: both builds side by side -------------------------------------

echo
echo "=== 64-bit Windows: fresh prefix in $NORVIK_WINE_ROOT"
if ! wine_prefix_start win64 >/dev/null 2>&1 || ! unpack; then
  echo "  FAIL  the 64-bit Wine prefix did not start"
  failures=$((failures + 1))
else
  dir=$(unpacked)
  wow_msr='HKLM\SOFTWARE\WOW6432Node\OLEforRetail\ServiceOPOS\MSR'
  echo "--- version resources, as GetFileVersionInfo reads them (64-bit probe)"
  probe=$WORK/version_probe.exe
  if x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -Werror tests/windows_release/version_probe.c -o "$probe" -lversion; then
    versions=$(wine "$probe" "$x86_win\\NorvikMSRSO.dll" "$x64_win\\NorvikMSRSO.dll" 2>/dev/null | tr -d '\r')
  else
    versions="the version probe does not build"
  fi
  echo "$versions" | sed 's/^/    /'
  expected_versions="file $FILE_VERSION product $VERSION strings $FILE_VERSION $VERSION"
  version_line() { echo "$versions" | sed -n "$1s/^[^ ]* //p"; }
  check "x86 NorvikMSRSO.dll: file version $FILE_VERSION, product version $VERSION" \
    test "$(version_line 1)" = "$expected_versions"
  check "x64 NorvikMSRSO.dll: file version $FILE_VERSION, product version $VERSION" \
    test "$(version_line 2)" = "$expected_versions"
  check "the archive is named after the product version" test "$(basename "$ZIP")" = "NorvikMSR-$VERSION.zip"
  # The 32-bit half (WoW64: SysWOW64's regsvr32, the 32-bit registry view, a
  # 32-bit application) runs only where the host runs 32-bit code natively.
  wow64=0 wow64_reason=
  wow64_reason=$(wine_wow64_available) && wow64=1
  echo "--- install"
  if [ "$wow64" = 1 ]; then
    (cd "$dir/x86" && wine cmd /c install.cmd >/dev/null 2>&1)
    check "x86\\install.cmd succeeds" test $? -eq 0
  fi
  (cd "$dir/x64" && wine cmd /c install.cmd 64 >/dev/null 2>&1)
  check "x64\\install.cmd 64 succeeds" test $? -eq 0
  so_clsid=$(reg_default 'HKCR\NorvikMSR.SO\CLSID')
  echo "    64-bit view: NorvikMSR.SO -> $(server_of NorvikMSR.SO 64)"
  check "64-bit view: NorvikMSRSO's InprocServer32 is x64\\NorvikMSRSO.dll" \
    same_path "$(server_of NorvikMSR.SO 64)" "$x64_win\\NorvikMSRSO.dll"
  check "64-bit device keys are in the 64-bit view" device_keys_ok "$msr" 64
  wine 'C:\windows\system32\regsvr32.exe' /s "$x64_win\\NorvikMSRControl.dll" >/dev/null 2>&1
  check "System32\\regsvr32 of x64\\NorvikMSRControl.dll succeeds" test $? -eq 0
  check "64-bit view: the control is x64\\NorvikMSRControl.dll" \
    same_path "$(server_of NorvikMSR.Control 64)" "$x64_win\\NorvikMSRControl.dll"
  if [ "$wow64" = 1 ]; then
    echo "    32-bit view: NorvikMSR.SO -> $(server_of NorvikMSR.SO 32)"
    check "32-bit view: NorvikMSRSO's InprocServer32 is x86\\NorvikMSRSO.dll" \
      same_path "$(server_of NorvikMSR.SO 32)" "$x86_win\\NorvikMSRSO.dll"
    check "32-bit device keys are under WOW6432Node" device_keys_ok "$wow_msr" 64
    wine 'C:\windows\syswow64\regsvr32.exe' /s "$x86_win\\NorvikMSRControl.dll" >/dev/null 2>&1
    check "SysWOW64\\regsvr32 of x86\\NorvikMSRControl.dll succeeds" test $? -eq 0
    check "32-bit view: the control is x86\\NorvikMSRControl.dll" \
      same_path "$(server_of NorvikMSR.Control 32)" "$x86_win\\NorvikMSRControl.dll"
  fi
  for view in 32 64; do
    wine reg add "$msr" /v FrontCounterMSR /d Norvik_MSR-1 /f /reg:$view >/dev/null 2>&1
    wine reg add "$msr" /v SecureLaneMSR /d Norvik_MSR-2 /f /reg:$view >/dev/null 2>&1
  done

  echo "--- POS applications, each through its own installed copy"
  session "64-bit" "$WIN64_DIR/bin/SwipeSession.exe" "$x64_win" PosApp64
  if [ "$wow64" = 1 ]; then
    session "32-bit on 64-bit Windows" "$WIN32_DIR/bin/SwipeSession.exe" "$x86_win" PosApp32
  else
    skip "32-bit on 64-bit Windows (x86 install through SysWOW64, 32-bit registry view, 32-bit session)" \
      "$wow64_reason"
  fi
  (cd "$WORK" && WINEPATH="$x64_win" wine "$example.x64.exe" 2>/dev/null | tr -d '\r' >"$example.x64.txt")
  check "the x64 C example prints what the guide shows" diff -u docs/examples/vorlex_example.out "$example.x64.txt"

  echo "--- uninstall"
  wine 'C:\windows\system32\regsvr32.exe' /u /s "$x64_win\\NorvikMSRControl.dll" >/dev/null 2>&1
  (cd "$dir/x64" && wine cmd /c uninstall.cmd 64 >/dev/null 2>&1)
  check "x64\\uninstall.cmd 64 succeeds" test $? -eq 0
  if [ "$wow64" = 1 ]; then
    wine 'C:\windows\syswow64\regsvr32.exe' /u /s "$x86_win\\NorvikMSRControl.dll" >/dev/null 2>&1
    (cd "$dir/x86" && wine cmd /c uninstall.cmd >/dev/null 2>&1)
    check "x86\\uninstall.cmd succeeds" test $? -eq 0
  fi
  for view in 32 64; do
    check "$view-bit view: no NorvikMSR.SO or NorvikMSR.Control ProgID is left" no_progids "$view"
    check "$view-bit view: no OPOS device key is left" no_device_keys "$msr" "$view"
  done
  wine_prefix_stop win64
fi

echo
if [ "$failures" -eq 0 ]; then echo "install test passed"; else echo "install test: $failures check(s) FAILED"; fi
[ "$failures" -eq 0 ]
