#!/usr/bin/env bash
# Checks the deliverables of both Windows builds without executing 32-bit
# code, so that it runs on every host: PE machine types, exports, imports and
# version resources (check_binaries.py), and each COM server's embedded type
# library as a 64-bit client loads it (typelib_reader.c in the 64-bit prefix).
#
#   tests/windows_binaries/check.sh [WIN32_BUILD_DIR [WIN64_BUILD_DIR]]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
win32_dir=$(cd "${1:-$root/build/win32}" && pwd) || exit 1
win64_dir=$(cd "${2:-$root/build/win64}" && pwd) || exit 1
version=$(sed -n 's/^VERSION=//p' "$root/tools/release.sh")
failures=0

python3 "$here/check_binaries.py" "$win32_dir/bin" x86 "$version" || failures=$((failures + 1))
python3 "$here/check_binaries.py" "$win64_dir/bin" x64 "$version" || failures=$((failures + 1))

reader=$win64_dir/typelib_reader.exe
x86_64-w64-mingw32-gcc -std=c11 -O2 -Wall -Wextra -Werror "$here/typelib_reader.c" -o "$reader" \
  -loleaut32 -lole32 || exit 1
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
modules=()
for dir in "$win32_dir" "$win64_dir"; do
  for dll in NorvikMSRSO.dll NorvikMSRControl.dll; do modules+=("$(windows_path "$dir/bin/$dll")"); done
done
source "$root/tools/wine-env.sh"
wine_prefix_start win64 >/dev/null 2>&1 || { echo "  FAIL  the 64-bit Wine prefix did not start"; exit 1; }
output=$(wine "$reader" "${modules[@]}" 2>/dev/null)
rc=$?
wine_prefix_stop win64
echo "$output" | tr -d '\r' | sed 's/^/        64-bit client: /'
if [ "$rc" -eq 0 ]; then
  echo "  ok    a 64-bit client loads the type library embedded in each of the ${#modules[@]} COM servers"
else
  echo "  FAIL  a 64-bit client cannot load $rc of the ${#modules[@]} embedded type libraries"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
