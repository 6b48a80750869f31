#!/bin/bash
# Installs what building and testing Velmora needs on Debian (run as root).
# Idempotent: a warm machine only checks and returns.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
deps="${VELMORA_DEPS:-$here/build/deps}"

need=()
want=(g++-mingw-w64-i686-posix mingw-w64-tools libz-mingw-w64-dev cmake make dpkg-dev
      wine wine32:i386 xvfb x11-apps imagemagick zip unzip p7zip-full python3 googletest
      nsis xdotool)
for p in "${want[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi

# minizip and zlib come from Debian's source packages (with Debian's patches),
# unpacked under the build tree; they are never committed. zlib is built with
# the project (for speed, see CMakeLists.txt) rather than taken prebuilt.
fetch_source() {  # package, a file that marks its sources, destination name
  local package="$1" marker="$2" dest="$deps/$3"
  [ -f "$dest/$marker" ] && return
  if [ ! -f /etc/apt/sources.list.d/velmora-src.sources ]; then
    cat > /etc/apt/sources.list.d/velmora-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt-get update -q
  fi
  rm -rf "$dest-src" && mkdir -p "$dest-src"
  (cd "$dest-src" && apt-get source -q "$package")
  local src
  src="$(find "$dest-src" -name "$marker" -not -path '*/contrib/*' -not -path '*/debian/*' | head -1)"
  [ -n "$src" ] || { echo "setup: $package sources not found" >&2; exit 1; }
  rm -rf "$dest" && mkdir -p "$dest"
  cp "$(dirname "$src")"/*.[ch] "$dest/"
  echo "setup: $package sources in $dest"
}
fetch_source minizip zip.c minizip
fetch_source zlib deflate.c zlib
