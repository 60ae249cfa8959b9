#!/usr/bin/env bash
# Builds the Windows Installer packages NorvikMSR-<version>-x86.msi and
# NorvikMSR-<version>-x64.msi from install/msi/NorvikMSR.wxs with wixl, out
# of two finished Release builds (tools/release.sh builds them first).
#
#   tools/msi.sh [WIN32_BUILD_DIR [WIN64_BUILD_DIR]]   defaults: build/win32 build/win64
#   RELEASE_OUT=dir        where the packages go (default: dist)
#   MSI_VERSION=a.b.c      the package's product version (default: major.minor.build of
#                          the release, e.g. 1.13.0.4 -> 1.13.4); the file name keeps the release's
#
# What wixl cannot express is added to the built package with msibuild: the
# component conditions, the 64-bit registry searches (the standard control's
# class among them), the Runtime feature's
# "cannot be absent" flag and the public properties passed to the server side.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

VERSION=$(sed -n 's/^VERSION=\([0-9.]*\)$/\1/p' tools/release.sh)
IFS=. read -r major minor _ build <<<"$VERSION"
MSI_VERSION=${MSI_VERSION:-$major.$minor.$build}
WIN32_DIR=${1:-build/win32}
WIN64_DIR=${2:-build/win64}
OUT=${RELEASE_OUT:-dist}
fail() { echo "msi: $*" >&2; exit 1; }
command -v wixl >/dev/null && command -v msibuild >/dev/null ||
  fail "wixl and msibuild are missing (Debian packages wixl and msitools; tools/setup-debian.sh installs them)"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/norvik-msi.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$OUT"

# The device keys of the .reg template as registry rows, value for value.
python3 - install/NorvikMSR.reg >"$WORK/DeviceKeys.wxi" <<'PY'
import re, sys
from xml.sax.saxutils import quoteattr
roots = {"HKEY_LOCAL_MACHINE": "HKLM"}
rows, key = [], None
for line in open(sys.argv[1], encoding="utf-8"):
    line = line.strip()
    section = re.fullmatch(r"\[(\w+)\\(.*)\]", line)
    if section:
        key = (roots[section.group(1)], section.group(2))
        continue
    value = re.fullmatch(r'(@|"(?:[^"\\]|\\.)*")=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-fA-F]{8}))', line)
    if not value or key is None:
        continue
    name = "" if value.group(1) == "@" else value.group(1)[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    if value.group(3) is not None:
        data, kind = str(int(value.group(3), 16)), "integer"
    else:
        data, kind = value.group(2).replace('\\"', '"').replace("\\\\", "\\"), "string"
    rows.append((key, name, data, kind))
if not rows:
    sys.exit("no values in " + sys.argv[1])
print("<Include>")
for i, ((root, path), name, data, kind) in enumerate(rows):
    print("  <RegistryValue Root=%s Key=%s%s Value=%s Type=%s%s/>" % (
        quoteattr(root), quoteattr(path), " Name=" + quoteattr(name) if name else "", quoteattr(data),
        quoteattr(kind), ' KeyPath="yes"' if i == 0 else ""))
print("</Include>")
PY

build_msi() {  # ARCH(x86|x64) BUILD_DIR
  local arch=$1 dir=$2 msi=$OUT/NorvikMSR-$VERSION-$1.msi f
  local -a defines
  for f in Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll SwipeBench.exe; do
    [ -f "$dir/bin/$f" ] || fail "$dir/bin/$f is missing"
  done
  if [ "$arch" = x86 ]; then
    defines=(-D UpgradeCode=6F0E3B9A-3C1D-4B8E-9D57-2A4C8E1F0B31 -D ProgramFiles=ProgramFilesFolder
             -D Win64=no -D TypeLibPlatform=win32
             -D DeviceKeysGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D61
             -D BasicAliasGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D62
             -D SecureAliasGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D63
             -D PowerReportingGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D64)
  else
    defines=(-D UpgradeCode=6F0E3B9A-3C1D-4B8E-9D57-2A4C8E1F0B64 -D ProgramFiles=ProgramFiles64Folder
             -D Win64=yes -D TypeLibPlatform=win64
             -D DeviceKeysGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D71
             -D BasicAliasGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D72
             -D SecureAliasGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D73
             -D PowerReportingGuid=0C7B61E2-5A43-4D59-8E0C-1F2A3B4C5D74)
  fi
  rm -f "$msi"
  wixl -a "$arch" -I "$WORK" -D Version="$MSI_VERSION" -D Arch="$arch" -D BinDir="$(realpath --relative-to="$ROOT" "$dir/bin")" \
    -D IncludeDir=reader "${defines[@]}" -o "$msi" install/msi/NorvikMSR.wxs 2>"$WORK/wixl-$arch.log" ||
    { cat "$WORK/wixl-$arch.log" >&2; fail "wixl failed for $arch"; }
  # Conditions wixl cannot express. The aliases only when named; our control
  # only when asked for and no standard control is registered. Removing the
  # product always takes them with it.
  local removing='OR REMOVE~="ALL"'
  msibuild "$msi" \
    -q "UPDATE Component SET Condition = 'LDN_BASIC $removing' WHERE Component = 'BasicAlias'" \
    -q "UPDATE Component SET Condition = 'LDN_SECURE $removing' WHERE Component = 'SecureAlias'" \
    -q "UPDATE Component SET Condition = '(POWER_REPORTING = \"1\") $removing' WHERE Component = 'PowerReporting'" \
    -q "UPDATE Component SET Condition = '(INSTALL_CONTROL = \"1\" AND NOT STANDARD_CONTROL) $removing' WHERE Component = 'ControlObject'" \
    -q "UPDATE Component SET Condition = '(INSTALL_CONTROL = \"1\" AND NOT STANDARD_CONTROL) $removing' WHERE Component = 'SharedControlKeys'" \
    -q "UPDATE Feature SET Attributes = 16 WHERE Feature = 'Runtime'" \
    -q "UPDATE Property SET Value = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;LDN_BASIC;LDN_SECURE;INSTALL_CONTROL;STANDARD_CONTROL;POWER_REPORTING' WHERE Property = 'SecureCustomProperties'" ||
    fail "msibuild could not add the component conditions to $msi"
  # The trace folder's descriptor: the one ServiceObject/platform/win32/
  # Win32TracePlatform.cpp gives the folders it creates (kFolderDescriptor).
  local trace_sddl='D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;AU)(A;OIIO;0x12008d;;;AU)(A;OIIO;FA;;;CO)(A;;0x1200ab;;;OW)'
  msibuild "$msi" \
    -q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDL\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)" \
    -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDL\`) VALUES ('TraceFolderLock', 'TraceFolder', 'CreateFolder', '$trace_sddl')" ||
    fail "msibuild could not add the trace folder's descriptor to $msi"
  if [ "$arch" = x64 ]; then  # every registry search of the x64 package looks in the 64-bit view
    msibuild "$msi" -q "UPDATE RegLocator SET Type = 18" || fail "msibuild could not set the 64-bit searches in $msi"
  fi
  echo "msi: $msi (product version $MSI_VERSION)"
}

build_msi x86 "$WIN32_DIR"
build_msi x64 "$WIN64_DIR"
