#!/usr/bin/env bash
# Installs the Windows Installer packages silently with Wine's msiexec into
# fresh prefixes, as a store's deployment tooling would, and checks each step:
#
#   1. the registry that the package writes equals, key for key, what the
#      developer install writes (regsvr32 of both DLLs and the .reg template,
#      through install.cmd) into the same folder;
#   2. an OPOS session (demo/SwipeSession.cpp) through the installed copy and
#      the aliases that LDN_BASIC and LDN_SECURE asked for;
#   3. a major upgrade to a package of a higher version: one entry in the
#      installed-programs list, an alias the user added survives, the session
#      runs again;
#   4. uninstall: nothing of ours is left but the user's alias.
#
# Scenarios: the x86 package on 32-bit Windows (a 32-bit prefix) and on
# 64-bit Windows (WoW64), the x64 package on 64-bit Windows, and both
# packages side by side on 64-bit Windows, each removed while the other
# stays. On a host that cannot run 32-bit code (tools/host.sh) the x86
# scenarios and the side-by-side one (its x64 half alone is the x64
# scenario) are reported as skipped, with the reason, in the output and in
# $NORVIK_SKIP_LOG.
#
#   tests/windows_release/msi-test.sh [WIN32_BUILD_DIR [WIN64_BUILD_DIR]]
#   MSI_TEST_DIR   work folder and Wine root, default build/msi-test (emptied first)
#   MSI_SCENARIOS  e.g. "x64" or "x86-win32 x86-wow64 x64 side-by-side" (default: all four)
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$ROOT"

if [ "${NORVIK_MSI_TEST_DISPLAY:-}" != 1 ]; then
  VERSION=$(sed -n 's/^VERSION=//p' tools/release.sh)
  WIN32_DIR=$(realpath "${1:-build/win32}")
  WIN64_DIR=$(realpath "${2:-build/win64}")
  WORK=${MSI_TEST_DIR:-build/msi-test}
  rm -rf "$WORK"
  mkdir -p "$WORK/old" "$WORK/new"
  WORK=$(cd "$WORK" && pwd)
  for dir in "$WIN32_DIR" "$WIN64_DIR"; do
    cmake --build "$dir" -j"${JOBS:-2}" --target SwipeSession >/dev/null 2>&1 ||
      { echo "SwipeSession does not build in $dir"; exit 1; }
  done
  # The release's packages, and the same with a higher product version.
  IFS=. read -r major minor _ build <<<"$VERSION"
  OLD_MSI_VERSION=$major.$minor.$build
  NEW_MSI_VERSION=$major.$minor.$((build + 1))
  RELEASE_OUT=$WORK/old bash tools/msi.sh "$WIN32_DIR" "$WIN64_DIR" >/dev/null || { echo "tools/msi.sh failed"; exit 1; }
  RELEASE_OUT=$WORK/new MSI_VERSION=$NEW_MSI_VERSION bash tools/msi.sh "$WIN32_DIR" "$WIN64_DIR" >/dev/null ||
    { echo "tools/msi.sh failed for the upgrade"; exit 1; }
  export VERSION WIN32_DIR WIN64_DIR WORK OLD_MSI_VERSION NEW_MSI_VERSION NORVIK_MSI_TEST_DISPLAY=1
  # The control object raises its events through a hidden window: one display for everything.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "${BASH_SOURCE[0]}" </dev/null
fi

source tools/wine-env.sh
source tests/windows_release/checks.sh

msr='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\MSR'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# Everything the developer install writes: both COM servers with their type
# libraries and interfaces, and the two device keys.
OUR_KEYS=(
  'HKCR\NorvikMSR.SO' 'HKCR\CLSID\{E1F262B5-1CC3-4ED9-9DE9-CC627EB17EB4}'
  'HKCR\AppID\{8B8BD6B4-F7A3-4C80-B419-BDF83A38B3BB}' 'HKCR\AppID\NorvikMSRSO.DLL'
  'HKCR\TypeLib\{4F75D3E1-C6CD-4CFF-9C50-1B7BB990DE56}'
  'HKCR\Interface\{8219FC15-22FC-409E-9E4C-E9C368C1CD21}' 'HKCR\Interface\{4325ADCD-B072-402A-8175-5087B64B737B}'
  'HKCR\NorvikMSR.Control' 'HKCR\CLSID\{B0066F57-F4FA-4A01-8E11-7CA2D062AF65}'
  'HKCR\TypeLib\{98EBC2D1-3014-486A-BD10-D12956BC1C83}'
  'HKCR\Interface\{980E4176-1D9E-496D-A8A3-9E8F2230FAE5}' 'HKCR\Interface\{E01E58B2-F461-405D-AB02-1BD2806734D0}'
  "$msr\\Norvik_MSR-1" "$msr\\Norvik_MSR-2"
)

# One line per key and per value, "key|name|type|data", sorted, as an
# application of the package's bitness sees the registry: for the 32-bit view
# of 64-bit Windows through the 32-bit reg.exe, since a 64-bit one does not
# see the class keys that both views share the way a 32-bit process does.
# Paths are compared without letter case, a "\\?\" prefix or a trailing backslash.
reg_query() {  # VIEW KEY
  if [ "$1" = 32 ]; then
    wine 'C:\windows\syswow64\reg.exe' query "$2" /s
  else
    wine reg query "$2" /s ${1:+/reg:$1}
  fi
}
dump() {  # VIEW
  local key
  for key in "${OUR_KEYS[@]}"; do reg_query "${1:-}" "$key" 2>/dev/null; done | tr -d '\r' |
    awk -F'    ' '/^HKEY_/ { key = $0; print key "|"; next }
                  NF >= 3 { data = $4; for (i = 5; i <= NF; i++) data = data "    " $i;
                            print key "|" $2 "|" $3 "|" data }' |
    sed 's/\\\\?\\//; s/\\$//' | tr '[:upper:]' '[:lower:]' | LC_ALL=C sort -u
}
nothing_of_ours() {  # VIEW: in it, and on 64-bit Windows in the 64-bit view too
  local left
  left=$( (dump "$1"; [ "$1" = 32 ] && dump 64) | LC_ALL=C sort -u)
  [ -z "$left" ] || { echo "$left" | sed 's/^/    left: /' | head -n 20; return 1; }
}
no_key() { ! wine reg query "$1" ${2:+/reg:$2} >/dev/null 2>&1; }
value_of() {  # KEY NAME VIEW
  wine reg query "$1" /v "$2" ${3:+/reg:$3} 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
arp_entries() {  # DISPLAYNAME VIEW: how many installed-programs entries carry that name
  wine reg query "$uninstall_key" /s ${2:+/reg:$2} 2>/dev/null | tr -d '\r' |
    grep -c "^ *DisplayName *REG_SZ *$1\$"
}
arp_version() {  # DISPLAYNAME VIEW
  wine reg query "$uninstall_key" /s ${2:+/reg:$2} 2>/dev/null | tr -d '\r' |
    awk -v name="$1" '/^HKEY_/ { if (hit) exit; version = "" } / DisplayVersion / { version = $NF }
                      / DisplayName / && substr($0, length($0) - length(name) + 1) == name { hit = 1 }
                      END { if (hit) print version }'
}
msiexec_ok() {  # LOG ARGUMENTS...: msiexec with a verbose log, exit code 0
  local log=$1
  shift
  wine msiexec "$@" /qn /l*v "$(winepath -w "$log" 2>/dev/null)" >/dev/null 2>&1
  local rc=$?
  [ "$rc" -eq 0 ] || { echo "    msiexec exited with $rc (log: $log)"; return 1; }
}

# The session program from a folder of its own, finding the DLLs through PATH.
session() {  # LABEL SWIPESESSION.EXE INSTALLED_WINDOWS_FOLDER
  local label=$1 exe=$2 installed=$3 app=$WINEPREFIX/drive_c/PosApp out rc
  out=$WORK/session-$(echo "$label" | tr -c 'a-zA-Z0-9\n' '-').txt
  mkdir -p "$app"
  cp "$exe" "$app/"
  (cd "$app" && WINEPATH="$installed" wine SwipeSession.exe 2>/dev/null | tr -d '\r' >"$out")
  rc=$?
  check "$label: the session completes through the installed copy" \
    bash -c '[ "$1" -eq 0 ] && grep -q "^Session complete\.$" "$2" &&
             grep -q "Track1Data *B4111111111111111^DOE/JOHN Q^2512101123456789$" "$2" &&
             grep -q "Track1EncryptedData *[0-9A-F]\{16,\}$" "$2"' _ "$rc" "$out" ||
    sed 's/^/    /' "$out" | tail -n 15
}

# The session's trace in the default place: the swipe is summarised, and
# neither its account number nor a track text is in the file.
trace_ok() {  # LABEL
  local trace
  trace=$(winepath -u 'C:\ProgramData\Norvik\Logs\Norvik_MSR-1.log' 2>/dev/null)
  check "$1: the trace is in %ProgramData%\\Norvik\\Logs\\Norvik_MSR-1.log, with calls, events and the swipe" \
    bash -c 'grep -q " call OpenService(MSR, Norvik_MSR-1) rc=0 " "$1" && grep -q " event SOData(" "$1" &&
             grep -q " report fetch=0 .*account=411111\*\*\*\*\*\*1111 " "$1"' _ "$trace"
  check "$1: no account number or track text in the trace" \
    bash -c '! grep -q -e 4111111111111111 -e "DOE/JOHN" -e "=2512101" "$1"' _ "$trace"
}

scenario() {  # LABEL PREFIX(win32|win64) PACKAGE(x86|x64) VIEW(""|32|64) BUILD_DIR
  local label=$1 prefix=$2 arch=$3 view=$4 build=$5 bits=32
  [ "$arch" = x64 ] && bits=64
  local old=$WORK/old/NorvikMSR-$VERSION-$arch.msi new=$WORK/new/NorvikMSR-$VERSION-$arch.msi
  local product="Norvik OPOS MSR ($arch)" logs=$WORK/logs-$label
  mkdir -p "$logs"
  echo
  echo "=== $label: fresh prefix"
  export NORVIK_WINE_ROOT=$WORK/wine-$label
  wine_prefix_start "$prefix" >/dev/null 2>&1 || { echo "  FAIL  the prefix did not start"; failures=$((failures + 1)); return; }
  local programs='C:\Program Files'
  [ "$prefix" = win64 ] && [ "$arch" = x86 ] && programs='C:\Program Files (x86)'
  local folder="$programs\\Norvik\\NorvikMSR" unix_folder
  unix_folder=$(winepath -u "$folder" 2>/dev/null)

  echo "--- what the developer install writes into the same folder"
  mkdir -p "$unix_folder"
  cp "$build/bin/Vorlex.dll" "$build/bin/NorvikMSRSO.dll" "$build/bin/NorvikMSRControl.dll" "$unix_folder/"
  cp "$build/bin/install.cmd" "$build/bin/uninstall.cmd" "$build/bin/NorvikMSR.reg" "$unix_folder/"
  local regsvr32=regsvr32
  [ "$prefix" = win64 ] && [ "$arch" = x86 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
  (cd "$unix_folder" && wine cmd /c install.cmd $bits) >"$logs/install.cmd.log" 2>&1 &&
    wine "$regsvr32" /s "$folder\\NorvikMSRControl.dll" >>"$logs/install.cmd.log" 2>&1
  check "install.cmd and regsvr32 of the control succeed" test $? -eq 0 ||
    tr -d '\r' <"$logs/install.cmd.log" | grep -v '^[0-9a-f]*:fixme:' | tail -n 5 | sed 's/^/    /'
  # POWER_REPORTING=1 stands for these two values, which a developer adds by hand.
  local key
  for key in Norvik_MSR-1 Norvik_MSR-2; do
    wine reg add "$msr\\$key" /v PowerReporting /t REG_DWORD /d 1 /f ${view:+/reg:$view} >/dev/null 2>&1
  done
  local reference=$WORK/reference-$label.txt installed=$WORK/installed-$label.txt
  dump "$view" >"$reference"
  check "they write $(wc -l <"$reference") keys and values" test "$(wc -l <"$reference")" -gt 40
  wine "$regsvr32" /u /s "$folder\\NorvikMSRControl.dll" >/dev/null 2>&1
  (cd "$unix_folder" && wine cmd /c uninstall.cmd $bits >/dev/null 2>&1)
  rm -rf "$unix_folder"
  check "and take it all back" nothing_of_ours "$view"

  echo "--- silent install"
  check "msiexec /i $(basename "$old") /qn INSTALL_CONTROL=1 LDN_BASIC=FrontCounterMSR LDN_SECURE=SecureLaneMSR POWER_REPORTING=1" \
    msiexec_ok "$logs/install.log" /i "$(winepath -w "$old")" INSTALL_CONTROL=1 \
    LDN_BASIC=FrontCounterMSR LDN_SECURE=SecureLaneMSR POWER_REPORTING=1
  dump "$view" >"$installed"
  check "the package's registry equals the developer install's, key for key" diff -u "$reference" "$installed"
  check "the files are in $folder" test -f "$unix_folder/NorvikMSRSO.dll" -a -f "$unix_folder/Vorlex.dll" \
    -a -f "$unix_folder/SwipeBench.exe"
  check "the headers (an optional feature) are not" test ! -e "$unix_folder/include"
  check "the aliases name their device keys" \
    test "$(value_of "$msr" FrontCounterMSR "$view")|$(value_of "$msr" SecureLaneMSR "$view")" = "Norvik_MSR-1|Norvik_MSR-2"
  # The support desk's trace, at its most detailed, on the basic reader.
  wine reg add "$msr\\Norvik_MSR-1" /v TraceLevel /t REG_DWORD /d 3 /f ${view:+/reg:$view} >/dev/null 2>&1
  session "$label, $OLD_MSI_VERSION" "$build/bin/SwipeSession.exe" "$folder"
  trace_ok "$label"
  wine reg delete "$msr\\Norvik_MSR-1" /v TraceLevel /f ${view:+/reg:$view} >/dev/null 2>&1
  wine reg add "$msr" /v UserLaneMSR /d Norvik_MSR-2 /f ${view:+/reg:$view} >/dev/null 2>&1

  echo "--- major upgrade to $NEW_MSI_VERSION"
  check "msiexec /i $(basename "$new") /qn (product version $NEW_MSI_VERSION, no properties)" \
    msiexec_ok "$logs/upgrade.log" /i "$(winepath -w "$new")"
  check "one entry in the installed-programs list" test "$(arp_entries "$product" "$view")" = 1
  check "and it is version $NEW_MSI_VERSION" test "$(arp_version "$product" "$view")" = "$NEW_MSI_VERSION"
  check "the user's alias survives the upgrade" test "$(value_of "$msr" UserLaneMSR "$view")" = Norvik_MSR-2
  check "the package's aliases and control stay, as remembered" \
    test "$(value_of "$msr" FrontCounterMSR "$view")|$(value_of "$msr" SecureLaneMSR "$view")" = "Norvik_MSR-1|Norvik_MSR-2"
  dump "$view" >"$installed"
  check "the registry is still the developer install's" diff -u "$reference" "$installed"
  session "$label, $NEW_MSI_VERSION" "$build/bin/SwipeSession.exe" "$folder"

  echo "--- uninstall"
  check "msiexec /x succeeds" msiexec_ok "$logs/uninstall.log" /x "$(winepath -w "$new")"
  check "no key or value of ours is left" nothing_of_ours "$view"
  check "the aliases the package added are gone" \
    test -z "$(value_of "$msr" FrontCounterMSR "$view")$(value_of "$msr" SecureLaneMSR "$view")"
  check "the user's alias stays" test "$(value_of "$msr" UserLaneMSR "$view")" = Norvik_MSR-2
  check "the remembered choices are gone" no_key 'HKLM\SOFTWARE\Norvik' "$view"
  check "the program folder is gone" test ! -e "$unix_folder"
  check "no entry in the installed-programs list" test "$(arp_entries "$product" "$view")" = 0
  wine_prefix_stop "$prefix"
}

# Both packages in one 64-bit prefix: removing either leaves the other's
# applications working, and removing both leaves only the user's aliases.
side_by_side() {
  local logs=$WORK/logs-side-by-side view
  local x86=$WORK/old/NorvikMSR-$VERSION-x86.msi x64=$WORK/old/NorvikMSR-$VERSION-x64.msi
  local folder32='C:\Program Files (x86)\Norvik\NorvikMSR' folder64='C:\Program Files\Norvik\NorvikMSR'
  local choices=(INSTALL_CONTROL=1 LDN_BASIC=FrontCounterMSR LDN_SECURE=SecureLaneMSR POWER_REPORTING=1)
  mkdir -p "$logs"
  echo
  echo "=== side-by-side: fresh 64-bit prefix"
  export NORVIK_WINE_ROOT=$WORK/wine-side-by-side
  wine_prefix_start win64 >/dev/null 2>&1 || { echo "  FAIL  the prefix did not start"; failures=$((failures + 1)); return; }
  check "msiexec /i $(basename "$x64") ${choices[*]}" \
    msiexec_ok "$logs/install-x64.log" /i "$(winepath -w "$x64")" "${choices[@]}"
  check "msiexec /i $(basename "$x86") ${choices[*]}" \
    msiexec_ok "$logs/install-x86.log" /i "$(winepath -w "$x86")" "${choices[@]}"
  for view in 32 64; do wine reg add "$msr" /v UserLaneMSR /d Norvik_MSR-2 /f /reg:$view >/dev/null 2>&1; done
  session "side-by-side, 64-bit" "$WIN64_DIR/bin/SwipeSession.exe" "$folder64"
  session "side-by-side, 32-bit" "$WIN32_DIR/bin/SwipeSession.exe" "$folder32"

  echo "--- the x86 package removed"
  check "msiexec /x $(basename "$x86")" msiexec_ok "$logs/uninstall-x86.log" /x "$(winepath -w "$x86")"
  session "x64 alone, 64-bit" "$WIN64_DIR/bin/SwipeSession.exe" "$folder64"
  # The type libraries' help folder, in a shared key, is the last installed package's.
  check "the x64 package's registry is still the whole developer install's (but for the help folder)" \
    diff -u <(grep -v '\\1.0\\helpdir|(default)' "$WORK/reference-x64.txt") <(dump 64 | grep -v '\\1.0\\helpdir|(default)')

  echo "--- the x86 package again, the x64 package removed"
  check "msiexec /i $(basename "$x86") ${choices[*]}" \
    msiexec_ok "$logs/reinstall-x86.log" /i "$(winepath -w "$x86")" "${choices[@]}"
  check "msiexec /x $(basename "$x64")" msiexec_ok "$logs/uninstall-x64.log" /x "$(winepath -w "$x64")"
  session "x86 alone, 32-bit" "$WIN32_DIR/bin/SwipeSession.exe" "$folder32"
  check "the x86 package's registry is still the whole developer install's (but for the help folder)" \
    diff -u <(grep -v '\\1.0\\helpdir|(default)' "$WORK/reference-x86-wow64.txt") <(dump 32 | grep -v '\\1.0\\helpdir|(default)')

  echo "--- both removed"
  check "msiexec /x $(basename "$x86")" msiexec_ok "$logs/uninstall-x86-last.log" /x "$(winepath -w "$x86")"
  # Windows keeps the ProgIDs, AppIDs and type library version keys once for
  # both views; Wine 8 keeps a copy per view, and the copy of a package removed
  # while the other still used the shared component stays there.
  local left
  left=$( (dump 32; dump 64) | LC_ALL=C sort -u)
  check "no key or value of ours is left in either view, but Wine's per-view copies of the shared keys" \
    test -z "$(echo "$left" | grep -v -e '^hkey_classes_root\\norvikmsr\.\(so\|control\)' -e '^hkey_classes_root\\appid\\' \
               -e '^hkey_classes_root\\typelib\\{[0-9a-f-]*}\\1\.0\(\\flags\|\\helpdir\)\?|' | grep .)"
  if [ -n "$left" ]; then
    echo "  NOTE  shared keys left in one view (Wine keeps them per view; Windows shares them):"
    echo "$left" | grep -v '|$' | sed 's/^/    left: /' | head -n 8
  fi
  check "the user's aliases stay in both views" \
    test "$(value_of "$msr" UserLaneMSR 32)|$(value_of "$msr" UserLaneMSR 64)" = "Norvik_MSR-2|Norvik_MSR-2"
  check "the remembered choices are gone from both views" \
    eval "no_key 'HKLM\SOFTWARE\Norvik' 32 && no_key 'HKLM\SOFTWARE\Norvik' 64"
  wine_prefix_stop win64
}

for s in ${MSI_SCENARIOS:-x86-win32 x86-wow64 x64 side-by-side}; do
  case $s in
    side-by-side)
      if ! norvik_host_runs_32bit; then
        skip "both packages side by side (the x86 package's half needs 32-bit code; the x64 half alone is the x64 scenario)"
      elif [ ! -f "$WORK/reference-x64.txt" ] || [ ! -f "$WORK/reference-x86-wow64.txt" ]; then
        echo "side-by-side needs the x86-wow64 and x64 scenarios first"; failures=$((failures + 1))
      else
        side_by_side
      fi ;;
    x86-win32 | x86-wow64)
      if ! norvik_host_runs_32bit; then
        skip "the x86 package ($s: install, session, upgrade and removal need 32-bit code)"
      elif [ "$s" = x86-wow64 ] && ! wow64_reason=$(wine_wow64_available); then
        skip "the x86 package ($s: install, session, upgrade and removal)" "$wow64_reason"
      elif [ "$s" = x86-win32 ]; then
        scenario x86-win32 win32 x86 "" "$WIN32_DIR"
      else
        scenario x86-wow64 win64 x86 32 "$WIN32_DIR"
      fi ;;
    x64) scenario x64 win64 x64 64 "$WIN64_DIR" ;;
    *) echo "unknown scenario $s"; failures=$((failures + 1)) ;;
  esac
done

echo
if [ "$failures" -eq 0 ]; then echo "msi test passed"; else echo "msi test: $failures check(s) FAILED"; fi
[ "$failures" -eq 0 ]
