#!/usr/bin/env bash
# Installs what building needs, builds Quillet with Debian's hardening flags and makes its
# Debian package: build-package/quillet_<version>_amd64.deb. Install it with
#     sudo apt install ./build-package/quillet_*_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# dpkg-shlibdeps works out the package's Depends.
command -v dpkg-shlibdeps >/dev/null ||
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q dpkg-dev
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_TESTS=OFF \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build build-package --target package
ls build-package/quillet_*_amd64.deb
