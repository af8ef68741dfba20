#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
set -euo pipefail

# clang and libclang-rt-14-dev (libFuzzer's runtime) build the decoder fuzzer;
# libbenchmark-dev the codec benchmark.
# qt6-base-dev builds the dialog layer (platform/ui, Qt 6 Widgets); qt6-qpa-plugins
# holds the offscreen platform plugin the dialog tests and screenshots run on,
# fonts-dejavu-core a font for it to draw the dialogs' texts with.
# iproute2 ('ip') makes the network namespaces of the router search test.
# The MinGW-w64 cross compilers (POSIX thread model) build the Windows files
# (make windows); wine64 runs their smoke tests.
packages=(cmake ninja-build g++ make libgtest-dev libgmock-dev clang libclang-rt-14-dev libbenchmark-dev
          qt6-base-dev qt6-qpa-plugins fonts-dejavu-core iproute2
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "install-deps: these packages are missing and this is not root: ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
