#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh Debian 12 machine.
# Run as root. Safe to run again: apt skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    exec sudo bash "$0" "$@"
  fi
  echo "setup.sh installs packages and must run as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

stamp=/var/lib/apt/periodic/qxudf-setup-stamp
if [ ! -f "$stamp" ] || [ -n "$(find /var/lib/apt/lists -maxdepth 0 -mmin +720 2>/dev/null)" ]; then
  apt-get update -q
  mkdir -p "$(dirname "$stamp")" && touch "$stamp"
fi

packages=(
  # cross toolchain and build
  cmake make ninja-build
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  libz-mingw-w64-dev
  # the SQL functions for 64-bit Windows servers, and 64-bit Wine to test them
  g++-mingw-w64-x86-64-posix wine64
  googletest
  # running Windows code; Wine's Schannel (TLS of the network channels) loads the 32-bit
  # GnuTLS at run time, which wine32 only recommends
  wine wine32:i386 xvfb xauth libgnutls30:i386 openssl
  # native build of the portable code and real peers
  g++ python3 python3-capstone libcapstone-dev
  imagemagick
  # readers of the attachments: PNG check, unzip, Python imaging
  pngcheck unzip python3-pil
  # loopback peers of the network channels: an SMTP server and a DNS library
  python3-aiosmtpd python3-dnslib
  # the decoder's fuzz target (libFuzzer)
  clang libclang-rt-14-dev
  # Linux build of the SQL functions, run in a real Firebird 3 engine (embedded); locale
  # sources so tests can build a locale of their own
  firebird3.0-server firebird3.0-utils firebird-dev locales
  # the UDR module: UdrCppEngine.h builds its messages with Boost.Preprocessor
  libboost-dev
  # debug-information map: native zlib, libFuzzer
  zlib1g-dev clang
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y -q --no-install-recommends "${missing[@]}" || {
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  }
fi

# Wine finds GnuTLS by its soname; without it every TLS handshake fails.
if [ ! -e /usr/lib/i386-linux-gnu/libgnutls.so.30 ]; then
  echo "the 32-bit GnuTLS library (libgnutls.so.30) that Wine's Schannel needs is missing" >&2
  exit 1
fi

# The mingw compiler comes in a win32-thread and a posix-thread flavour; we need posix.
command -v i686-w64-mingw32-g++-posix >/dev/null
command -v x86_64-w64-mingw32-g++-posix >/dev/null
echo "setup complete"
