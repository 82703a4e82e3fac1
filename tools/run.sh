#!/usr/bin/env bash
# Installs what is missing, builds, writes the built-in sample archive and checks it with
# kerg-inspect.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source tools/deps.sh
kerg_install_missing

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
sample="$root/build/sample/archive"
rm -rf "$sample"
build/tools/kerg-sample-archive "$sample"
echo "Sample archive: $sample"
build/tools/kerg-inspect check "$sample"
