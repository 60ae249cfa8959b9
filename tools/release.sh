#!/usr/bin/env bash
# Builds (or reuses) both Windows builds and packs the release archive
# dist/NorvikMSR-<version>.zip:
#
#   NorvikMSR-<version>/
#     README.txt                    what is inside and how to install it
#     SHA256SUMS                    checksums of every other file, paths relative to this folder
#     x86/  x64/                    Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll
#                                   SwipeBench.exe (when the build has it)
#                                   install.cmd uninstall.cmd NorvikMSR.reg
#     include/                      Vorlex.h VorlexSimulator.h
#     lib/x86/Vorlex.lib            import library of the 32-bit Vorlex.dll (decorated stdcall names)
#     lib/x64/Vorlex.lib            import library of the 64-bit Vorlex.dll
#     docs/                         user-guide.md, examples/vorlex_example.c, images/swipebench.png
#     virtual-reader/               README.txt (a test tool), x86/ and x64/: VirtualReader.exe,
#                                   VorlexVirtualBus.sys, VorlexVirtualHid.sys, VorlexVirtualReader.inf
#
# and, by tools/msi.sh, the Windows Installer packages dist/NorvikMSR-<version>-x86.msi
# and dist/NorvikMSR-<version>-x64.msi.
#
#   tools/release.sh [WIN32_BUILD_DIR [WIN64_BUILD_DIR]]   defaults: build/win32 build/win64
#   RELEASE_OUT=dir                                        where the archive goes (default: dist)
#
# A build directory that has no CMake cache yet is configured (Ninja, Release,
# the mingw toolchain of its architecture); one that has is reused as it is
# configured, and must be a Release build. Before anything is built the
# version numbers below are checked against the version resource and the
# ServiceObjectVersion of the sources, and after the build against the
# version resource compiled into NorvikMSRSO.dll: any drift stops the release.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

# The product version names the release; NorvikMSRSO.dll carries its own file version.
VERSION=1.13.0.4
FILE_VERSION=1.13.0.3

WIN32_DIR=${1:-build/win32}
WIN64_DIR=${2:-build/win64}
OUT=${RELEASE_OUT:-dist}
JOBS=${JOBS:-2}
NAME=NorvikMSR-$VERSION

fail() { echo "release: $*" >&2; exit 1; }

# ---- Versions in the sources -------------------------------------------------

# "1.13.0.4" -> "1,13,0,4"
commas() { echo "${1//./,}"; }
# UnifiedPOS version number of a product version: major*1000000 + minor*1000 + build.
upos_version() {
  local IFS=.
  set -- $1
  echo $(( $1 * 1000000 + $2 * 1000 + $4 ))
}

check_source_versions() {
  local rc=ServiceObject/com/NorvikMSRSO.rc impl=ServiceObject/logic/PropertyRules.h
  local -a problems=()
  local fixed_file fixed_product string_file string_product so_version
  fixed_file=$(sed -n 's/^[[:space:]]*FILEVERSION[[:space:]]*//p' "$rc" | tr -d ' \r')
  fixed_product=$(sed -n 's/^[[:space:]]*PRODUCTVERSION[[:space:]]*//p' "$rc" | tr -d ' \r')
  string_file=$(sed -n 's/.*VALUE "FileVersion", "\([^"]*\)".*/\1/p' "$rc")
  string_product=$(sed -n 's/.*VALUE "ProductVersion", "\([^"]*\)".*/\1/p' "$rc")
  so_version=$(sed -n 's/.*kServiceObjectVersion = \([0-9]*\);.*/\1/p' "$impl")
  [ "$fixed_file" = "$(commas "$FILE_VERSION")" ] || problems+=("$rc FILEVERSION is '$fixed_file', release says $FILE_VERSION")
  [ "$fixed_product" = "$(commas "$VERSION")" ] || problems+=("$rc PRODUCTVERSION is '$fixed_product', release says $VERSION")
  [ "$string_file" = "$FILE_VERSION" ] || problems+=("$rc \"FileVersion\" is '$string_file', release says $FILE_VERSION")
  [ "$string_product" = "$VERSION" ] || problems+=("$rc \"ProductVersion\" is '$string_product', release says $VERSION")
  [ "$so_version" = "$(upos_version "$VERSION")" ] ||
    problems+=("$impl kServiceObjectVersion is '$so_version', release $VERSION needs $(upos_version "$VERSION")")
  if [ ${#problems[@]} -gt 0 ]; then
    printf 'release: version drift: %s\n' "${problems[@]}" >&2
    exit 1
  fi
}

# The fixed part of a PE version resource (VS_FIXEDFILEINFO) follows its
# signature 0xFEEF04BD: struct version, then file version MS/LS and product
# version MS/LS. Prints "file product" as dotted quads.
binary_versions() {
  local file=$1 offset
  offset=$(LC_ALL=C grep -obUaP '\xBD\x04\xEF\xFE' "$file" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || { echo "none none"; return; }
  local -a w
  read -r -a w <<<"$(od -An -tu4 -j $((offset + 8)) -N 16 "$file")"
  printf '%d.%d.%d.%d %d.%d.%d.%d\n' \
    $((w[0] >> 16)) $((w[0] & 0xFFFF)) $((w[1] >> 16)) $((w[1] & 0xFFFF)) \
    $((w[2] >> 16)) $((w[2] & 0xFFFF)) $((w[3] >> 16)) $((w[3] & 0xFFFF))
}

# ---- Builds --------------------------------------------------------------------

build_optional() {  # DIR SOURCE_FOLDER TARGET WHAT: prints 1 when built, else 0
  local dir=$1 folder=$2 target=$3 what=$4
  if [ -f "$folder/CMakeLists.txt" ] &&
     cmake --build "$dir" -j"$JOBS" --target "$target" >>"$dir.release-build.log" 2>&1; then
    echo 1
    return
  fi
  [ -f "$folder/CMakeLists.txt" ] &&
    echo "release: WARNING: $what did not build in $dir; the archive goes without it" >&2
  echo 0
}

build() {  # DIR TOOLCHAIN EXPECTED_PE_FORMAT
  local dir=$1 toolchain=$2 format=$3
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  mkdir -p "$(dirname "$dir")"
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    echo "--- configuring $dir"
    cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$dir.release-configure.log" 2>&1 ||
      { tail -n 30 "$dir.release-configure.log"; fail "configuring $dir failed"; }
  fi
  grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$dir/CMakeCache.txt" ||
    fail "$dir is not a Release build"
  local targets=(Vorlex NorvikMSRSO NorvikMSRControl)
  echo "--- building $dir"
  cmake --build "$dir" -j"$JOBS" --target "${targets[@]}" >"$dir.release-build.log" 2>&1 ||
    { tail -n 40 "$dir.release-build.log"; fail "building $dir failed"; }
  # The x86 import library is made by dlltool (decorated names); x64 gets the linker's.
  if [ "$format" = pei-i386 ]; then
    cmake --build "$dir" -j"$JOBS" --target vorlex_implib >>"$dir.release-build.log" 2>&1 ||
      { tail -n 40 "$dir.release-build.log"; fail "building the import library in $dir failed"; }
  fi
  # SwipeBench and the virtual reader (a test tool) are packed when the build
  # has them; a failed build of either is left out, not packed stale.
  SWIPEBENCH_OK=$(build_optional "$dir" utility SwipeBench SwipeBench)
  VIRTUAL_READER_OK=$(build_optional "$dir" virtual_reader VirtualReader "the virtual reader")
  local f
  for f in Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll Vorlex.lib install.cmd uninstall.cmd NorvikMSR.reg; do
    [ -f "$dir/bin/$f" ] || fail "$dir/bin/$f is missing"
  done
  for f in Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll; do
    x86_64-w64-mingw32-objdump -f "$dir/bin/$f" | grep -q "file format $format" ||
      fail "$dir/bin/$f is not $format"
  done
  local versions
  versions=$(binary_versions "$dir/bin/NorvikMSRSO.dll")
  [ "$versions" = "$FILE_VERSION $VERSION" ] ||
    fail "version drift: $dir/bin/NorvikMSRSO.dll carries file/product version '$versions', release says '$FILE_VERSION $VERSION' (stale build?)"
}

stage_arch() {  # BUILD_DIR ARCH_NAME SWIPEBENCH_OK
  local dir=$1 arch=$2 with_swipebench=$3 f
  mkdir -p "$STAGE/$arch" "$STAGE/lib/$arch"
  for f in Vorlex.dll NorvikMSRSO.dll NorvikMSRControl.dll install.cmd uninstall.cmd NorvikMSR.reg; do
    cp "$dir/bin/$f" "$STAGE/$arch/"
  done
  if [ "$with_swipebench" = 1 ] && [ -f "$dir/bin/SwipeBench.exe" ]; then
    cp "$dir/bin/SwipeBench.exe" "$STAGE/$arch/"
  fi
  cp "$dir/bin/Vorlex.lib" "$STAGE/lib/$arch/Vorlex.lib"
}

# virtual-reader/README.txt and virtual-reader/<arch>/: never part of the product's install.
stage_virtual_reader() {  # BUILD_DIR ARCH_NAME VIRTUAL_READER_OK
  local dir=$1 arch=$2 built=$3 f
  [ "$built" = 1 ] || return 0
  mkdir -p "$STAGE/virtual-reader/$arch"
  for f in VirtualReader.exe VorlexVirtualBus.sys VorlexVirtualHid.sys VorlexVirtualReader.inf; do
    cp "$dir/bin/virtual-reader/$f" "$STAGE/virtual-reader/$arch/"
  done
  sed 's/$/\r/' "$dir/bin/virtual-reader/README.txt" >"$STAGE/virtual-reader/README.txt"
}

write_readme() {
  local swipebench_line="SwipeBench.exe"
  [ -f "$STAGE/x86/SwipeBench.exe" ] || swipebench_line="(SwipeBench.exe is not in this build)"
  # CRLF: the file is read on Windows.
  sed 's/$/\r/' >"$STAGE/README.txt" <<EOF
Norvik OPOS Magnetic Stripe Reader, version $VERSION
====================================================

The OPOS MSR service object for the Norvik USB swipe readers, its reader
library, our MSR control object and the SwipeBench test utility.

  x86\\        32-bit binaries (the product; runs on 32-bit and 64-bit Windows)
  x64\\        64-bit binaries, for 64-bit POS applications
               Vorlex.dll            reader library (with the simulated reader)
               NorvikMSRSO.dll       OPOS MSR service object, ProgID NorvikMSR.SO
                                     (file version $FILE_VERSION, product version $VERSION)
               NorvikMSRControl.dll  MSR control object, ProgID NorvikMSR.Control
               $swipebench_line
               install.cmd, uninstall.cmd, NorvikMSR.reg
  include\\    Vorlex.h, VorlexSimulator.h (C interface of Vorlex.dll)
  lib\\x86\\    Vorlex.lib, import library of x86\\Vorlex.dll (GNU format, mingw-w64)
  lib\\x64\\    Vorlex.lib, import library of x64\\Vorlex.dll (GNU format, mingw-w64)
  docs\\       user-guide.md (with images\\), examples\\vorlex_example.c
  virtual-reader\  a TEST TOOL, not part of the product: virtual HID readers
               for test labs (see virtual-reader\README.txt); the
               install scripts never install it
  SHA256SUMS  SHA-256 of every file above (sha256sum -c SHA256SUMS)

Installing (from an administrator command prompt)
-------------------------------------------------

Leave the folder where it is: the registration points at it.

  32-bit POS application (32-bit or 64-bit Windows):
      x86\\install.cmd
      %SystemRoot%\\SysWOW64\\regsvr32 x86\\NorvikMSRControl.dll   (64-bit Windows)
      regsvr32 x86\\NorvikMSRControl.dll                           (32-bit Windows)

  64-bit POS application (64-bit Windows):
      x64\\install.cmd
      %SystemRoot%\\System32\\regsvr32 x64\\NorvikMSRControl.dll

Each install.cmd knows the bitness of the DLL beside it and refuses an
argument that contradicts it. For fleets, use the Windows Installer packages
NorvikMSR-$VERSION-x86.msi and -x64.msi instead (user guide, section 10).

install.cmd registers NorvikMSRSO.dll and writes the OPOS device keys
Norvik_MSR-1 (reader without encryption) and Norvik_MSR-2 (encrypting reader)
under HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR, in the registry view of
the DLL's bitness. Register NorvikMSRControl.dll only on machines without a
standard OPOS MSR control object. Add logical device names with SwipeBench
("LDN" button).

Uninstalling: x86\\uninstall.cmd (or x64\\uninstall.cmd), and
regsvr32 /u for NorvikMSRControl.dll if you registered it.

See docs\\user-guide.md for the properties, the events, DirectIO, the
statistics, the simulated reader and troubleshooting.
EOF
}

# ---- Main ------------------------------------------------------------------------

check_source_versions
build "$WIN32_DIR" cmake/mingw-i686.cmake pei-i386
SWIPEBENCH_X86=$SWIPEBENCH_OK
VIRTUAL_READER_X86=$VIRTUAL_READER_OK
build "$WIN64_DIR" cmake/mingw-x86_64.cmake pei-x86-64
SWIPEBENCH_X64=$SWIPEBENCH_OK
VIRTUAL_READER_X64=$VIRTUAL_READER_OK

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/norvik-release.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
STAGE=$WORK/$NAME
mkdir -p "$STAGE/include" "$STAGE/docs/examples"

stage_arch "$WIN32_DIR" x86 "$SWIPEBENCH_X86"
stage_arch "$WIN64_DIR" x64 "$SWIPEBENCH_X64"
stage_virtual_reader "$WIN32_DIR" x86 "$VIRTUAL_READER_X86"
stage_virtual_reader "$WIN64_DIR" x64 "$VIRTUAL_READER_X64"
cp reader/Vorlex.h reader/VorlexSimulator.h "$STAGE/include/"
cp docs/user-guide.md "$STAGE/docs/"
cp docs/examples/vorlex_example.c "$STAGE/docs/examples/"
if [ -f docs/images/swipebench.png ]; then  # the guide shows it
  mkdir -p "$STAGE/docs/images"
  cp docs/images/swipebench.png "$STAGE/docs/images/"
fi
write_readme

(cd "$STAGE" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   xargs sha256sum >SHA256SUMS)

rm -f "$OUT/$NAME.zip"
(cd "$WORK" && zip -q -X -r "$OUT/$NAME.zip" "$NAME")
echo "release: $OUT/$NAME.zip"
(cd "$WORK" && unzip -l "$OUT/$NAME.zip" | sed -n '4,$p')

[ "$SWIPEBENCH_X86$SWIPEBENCH_X64" = 11 ] || fail "the Windows Installer packages need SwipeBench.exe in both builds"
RELEASE_OUT="$OUT" bash tools/msi.sh "$WIN32_DIR" "$WIN64_DIR"
