#!/bin/bash
# Prints the Windows architecture the tests can run here: i686 where this
# machine runs 32-bit Linux programs (32-bit Wine), else x86_64 (some kernels
# are built or booted without 32-bit emulation). VELMORA_ARCH overrides it.
if [ -n "${VELMORA_ARCH:-}" ]; then echo "$VELMORA_ARCH"; exit 0; fi
# The 32-bit dynamic loader (there with wine32) is a real 32-bit program.
if [ -x /lib/ld-linux.so.2 ]; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
  exit 0
fi
probe="$(mktemp)"
# The smallest 32-bit Linux program: exit(0) through int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
if "$probe" 2>/dev/null; then echo i686; else echo x86_64; fi
rm -f "$probe"
