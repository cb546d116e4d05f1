#!/usr/bin/env bash
# Installs the Debian packages both build trees need, and only those that are missing,
# so that `make test` works on a fresh machine and costs nothing on a prepared one.
set -euo pipefail

need_i386=0
pkgs=()
want() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || pkgs+=("$1"); }

for p in cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
         g++-mingw-w64-i686-posix mingw-w64-i686-dev xvfb xauth libjpeg-turbo-progs fonts-wine libjpeg62-turbo-dev libfreetype-dev zlib1g-dev fonts-dejavu-core fonts-ipafont-gothic; do
  want "$p"
done
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  need_i386=1
  pkgs+=(wine wine32:i386)
fi

if [ ${#pkgs[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if [ $need_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${pkgs[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${pkgs[@]}" >/dev/null
