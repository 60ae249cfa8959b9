#!/usr/bin/env bash
# Prepares 32-bit Wine through user-mode emulation, for hosts whose kernel
# runs 64-bit code only (tools/host.sh), and for NORVIK_HOST_32BIT=emulated.
#
# Everything lands in build/emu32/, taken from Debian's own packages through
# the mirror apt already uses:
#   qemu-i386   from the backports' qemu-user (bookworm's 7.2 needs about a
#               minute of CPU per Wine process start; 10.x a fraction of that)
#   sysroot/    wine32 with its libraries for i386, the same Wine version as
#               the host's 64-bit one (they share its wineserver), fetched by
#               a private apt configuration (its own lists, status and
#               architecture), so that the system never gains the i386
#               architecture and apt never touches the host's packages.
# The only change outside build/ is one binfmt_misc entry (norvik-i386), made
# only where the kernel cannot run i386 code itself: it hands i386 programs to
# qemu-i386. Undo: echo -1 >/proc/sys/fs/binfmt_misc/norvik-i386.
#
# Quick when done already; prints one line saying what it did. Any failure
# leaves the host as it was, and the 32-bit parts are then skipped.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/tools/host.sh"
dir=$NORVIK_EMULATION_DIR
log=$ROOT/build/setup-emulation.log
binfmt=/proc/sys/fs/binfmt_misc
say() { echo "32-bit Wine through emulation: $*"; }

wine_version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) ||
  { say "not set up: the host's 64-bit Wine (wine64) is not installed"; exit 1; }
want="wine $wine_version"

# The Debian archives apt knows, as "URI SUITE COMPONENT" lines.
debian_sources() {
  apt-cache policy | awk '
    $1 ~ /^[0-9]+$/ && $4 ~ /^(amd64|i386|all)$/ && $5 == "Packages" { line = $2 " " $3; next }
    line != "" && $1 == "release" && $2 ~ /(^|,)o=Debian(,|$)/ {
      split(line, f, " "); n = split(f[2], s, "/")
      print f[1], s[1], s[2]; line = "" ; next }
    { line = "" }' | sort -u
}

# A private apt: its own lists, cache, status and sources, for one architecture.
private_apt() {  # DIR ARCH SOURCES_FILE
  local d=$1 arch=$2
  mkdir -p "$d/lists/partial" "$d/cache/archives/partial" "$d/parts"
  : >"$d/status"
  cp "$3" "$d/sources.list"
  cat >"$d/apt.conf" <<EOF
Dir::State "$d/";
Dir::State::lists "$d/lists/";
Dir::State::status "$d/status";
Dir::Cache "$d/cache/";
Dir::Etc::sourcelist "$d/sources.list";
Dir::Etc::sourceparts "$d/parts/";
Dir::Etc::parts "$d/parts/";
Dir::Etc::preferences "$d/parts/none";
Dir::Etc::preferencesparts "$d/parts/";
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
APT::Install-Recommends "false";
APT::Sandbox::User "root";
Debug::NoLocking "true";
Acquire::Languages "none";
EOF
  # A mirror caught mid-sync fails an index now and then: try again, then go on
  # with what was fetched; the download says if it falls short.
  local try
  for try in 1 2 3; do
    APT_CONFIG=$d/apt.conf apt-get update -q && return 0
    sleep 5
  done
  echo "apt-get update kept failing; going on with the lists fetched"
}

apt_in() { local d=$1; shift; APT_CONFIG=$d/apt.conf "$@"; }

prepare() {  # builds the emulator and sysroot in $1
  local new=$1 codename sources
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  sources=$(debian_sources)
  [ -n "$sources" ] || { echo "apt knows no Debian archive (run apt-get update)"; return 1; }
  echo "Debian archives apt knows:"; echo "$sources"
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  awk -v k="$keyring" '{ print "deb [arch=i386 signed-by=" k "] " $1 " " $2 " " $3 }' \
    <<<"$sources" >"$new/i386.list"
  awk -v k="$keyring" -v c="$codename" '$2 == c {
      print "deb [arch=amd64 signed-by=" k "] " $1 " " c "-backports main"; exit }' \
    <<<"$sources" >"$new/backports.list"
  [ -s "$new/backports.list" ] || { echo "no $codename archive among apt's sources"; return 1; }

  echo "--- qemu-user from $codename-backports"
  private_apt "$new/apt-amd64" amd64 "$new/backports.list"
  (cd "$new/apt-amd64/cache" && apt_in "$new/apt-amd64" apt-get download -q qemu-user)
  dpkg-deb --fsys-tarfile "$new"/apt-amd64/cache/qemu-user_*.deb | tar -x -C "$new" ./usr/bin/qemu-i386
  mv "$new/usr/bin/qemu-i386" "$new/qemu-i386"
  rm -rf "$new/usr" "$new/apt-amd64/cache"
  "$new/qemu-i386" --version | head -n 1

  echo "--- wine32 $wine_version and its libraries for i386"
  private_apt "$new/apt-i386" i386 "$new/i386.list"
  # Wine's X11 driver loads the X extension libraries at run time (recommends);
  # the C library's headers build the trap number fix below.
  apt_in "$new/apt-i386" apt-get install -q -y --download-only \
    "wine32=$wine_version" "libwine=$wine_version" \
    libxrender1 libxi6 libxrandr2 libxcursor1 libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1 \
    libc6-dev linux-libc-dev
  local sysroot=$new/sysroot deb
  mkdir -p "$sysroot"
  for deb in "$new"/apt-i386/cache/archives/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  rm -rf "$new/apt-i386/cache"

  echo "--- sysroot fix-ups"
  # Debian's 32-bit user32.dll imports zlib1.dll, which libwine's maintainer
  # script makes from the mingw build, marked as a Wine built-in DLL.
  local zlib=$sysroot/usr/i686-w64-mingw32/lib/zlib1.dll
  { head -c 64 "$zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib"; } \
    >"$sysroot/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
  # qemu leaves the fault's trap number out of the signal context; this
  # library, preloaded in every emulated program, puts it back.
  gcc -m32 --sysroot="$sysroot" -O2 -fPIC -shared -nostdlib -fno-stack-protector \
    -o "$sysroot/usr/lib/i386-linux-gnu/libnorvik-trapno.so" "$ROOT/tools/emulation/trapno-fix.c" -lc
  echo /usr/lib/i386-linux-gnu/libnorvik-trapno.so >"$sysroot/etc/ld.so.preload"
  # Without a cache of its own the emulated loader reads the host's and picks
  # 64-bit libraries.
  echo 'include /etc/ld.so.conf.d/*.conf' >"$sysroot/etc/ld.so.conf"
  ldconfig -r "$sysroot"

  echo "--- smoke test"
  QEMU_LD_PREFIX=$sysroot "$new/qemu-i386" "$sysroot/usr/lib/wine/wine" --version
  echo "$want" >"$new/ready"
}

# The binfmt_misc entry, where the kernel cannot run i386 itself. Returns 1
# with the kernel untouched when that cannot be done.
register() {
  [ -e "$binfmt/norvik-i386" ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "registering qemu-i386 with binfmt_misc needs root"; return 1; }
  local mounted=0
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    mounted=1
  fi
  if ! norvik_binfmt_rule norvik-i386 >"$binfmt/register"; then
    [ "$mounted" = 0 ] || umount "$binfmt"
    return 1
  fi
}

mkdir -p "$ROOT/build"
did="ready in build/emu32 ($want)"
if [ "$(cat "$dir/ready" 2>/dev/null)" != "$want" ]; then
  new=$(mktemp -d "$ROOT/build/emu32.new.XXXXXX")
  trap 'rm -rf "$new"' EXIT
  started=$SECONDS
  if ! prepare "$new" >"$log" 2>&1; then
    rm -rf "$new"
    tail -n 20 "$log"
    say "not set up; the 32-bit parts are skipped (log: build/setup-emulation.log)"
    exit 1
  fi
  rm -rf "$dir"
  mv "$new" "$dir"
  did="prepared build/emu32 ($want, qemu-i386 from backports) in $((SECONDS - started)) s"
fi

kernel=$(norvik_host_kernel_32bit)
case $kernel in
  native) say "$did; this host runs 32-bit code natively, so it stays unregistered (NORVIK_HOST_32BIT=emulated uses it in throwaway namespaces)" ;;
  emulated) say "$did; binfmt_misc hands i386 programs to an emulator already" ;;
  *)
    if register >>"$log" 2>&1 && [ "$(norvik_host_kernel_32bit)" = emulated ]; then
      say "$did; registered qemu-i386 with binfmt_misc (norvik-i386)"
    else
      [ -e "$binfmt/norvik-i386" ] && echo -1 >"$binfmt/norvik-i386" 2>/dev/null
      say "$did, but qemu-i386 could not be registered with binfmt_misc; the 32-bit parts are skipped"
      exit 1
    fi ;;
esac
