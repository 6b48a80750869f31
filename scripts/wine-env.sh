# Sourced by the Wine wrappers: the prefix's architecture and the loader for
# the build this machine can run (scripts/windows-arch.sh).
VELMORA_ARCH="${VELMORA_ARCH:-$("$(dirname "${BASH_SOURCE[0]}")/windows-arch.sh")}"
export VELMORA_ARCH
if [ "$VELMORA_ARCH" = x86_64 ]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  case ":$PATH:" in *":$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:"*) ;;
    *) PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:$PATH" ;; esac
  export PATH
else
  export WINEARCH=win32
fi
