#!/bin/bash
# Installs what building and testing Velmora needs on Debian (run as root).
# Idempotent: a warm machine only checks and returns.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
deps="${VELMORA_DEPS:-$here/build/deps}"

need=()
want=(g++-mingw-w64-i686-posix mingw-w64-tools libz-mingw-w64-dev cmake make dpkg-dev
      wine wine32:i386 xvfb x11-apps imagemagick zip unzip p7zip-full python3 googletest
      nsis xdotool fonts-nanum)
# Where the kernel runs no 32-bit program, the tests run a 64-bit build under
# 64-bit Wine (scripts/windows-arch.sh).
[ "$("$here/scripts/windows-arch.sh")" = x86_64 ] && want+=(g++-mingw-w64-x86-64-posix wine64)
for p in "${want[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi

# minizip and winpthreads come from Debian's source packages (with Debian's
# patches), unpacked under the build tree; they are never committed.
ensure_deb_src() {
  [ -f /etc/apt/sources.list.d/velmora-src.sources ] && return
  cat > /etc/apt/sources.list.d/velmora-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt-get update -q
}

if [ ! -f "$deps/minizip/zip.c" ]; then
  ensure_deb_src
  rm -rf "$deps/minizip-src" && mkdir -p "$deps/minizip-src"
  (cd "$deps/minizip-src" && apt-get source -q minizip)
  src="$(find "$deps/minizip-src" -name zip.c -path '*minizip*' | head -1)"
  [ -n "$src" ] || { echo "setup: minizip sources not found" >&2; exit 1; }
  rm -rf "$deps/minizip" && mkdir -p "$deps/minizip"
  cp "$(dirname "$src")"/*.[ch] "$deps/minizip/"
  echo "setup: minizip sources in $deps/minizip"
fi

# winpthreads, for the XP build of libwinpthread-1.dll. The mingw-w64 source
# package is large; only its winpthreads folder is kept.
wpt="${VELMORA_WINPTHREADS:-$deps/winpthreads}"
if [ ! -f "$wpt/src/thread.c" ]; then
  ensure_deb_src
  tmp="$wpt-src"
  rm -rf "$tmp" && mkdir -p "$tmp"
  (cd "$tmp" && apt-get source -q mingw-w64 >/dev/null)
  src="$(find "$tmp" -maxdepth 4 -type d -path '*mingw-w64-libraries/winpthreads' | head -1)"
  [ -n "$src" ] && [ -f "$src/src/thread.c" ] || { echo "setup: winpthreads sources not found" >&2; exit 1; }
  rm -rf "$wpt" && mv "$src" "$wpt" && rm -rf "$tmp"
  echo "setup: winpthreads sources in $wpt"
fi
