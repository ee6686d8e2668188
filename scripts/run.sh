#!/usr/bin/env bash
# Installs what Quillet needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TESTS=OFF
cmake --build build --target quillet
exec ./build/app/quillet
