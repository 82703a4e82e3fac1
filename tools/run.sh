#!/usr/bin/env bash
# Installs what is missing, builds, writes the built-in sample office, checks its archive and
# imports it into its target database.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source tools/deps.sh
kerg_install_missing

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
sample="$root/build/sample"
rm -rf "$sample"
build/tools/kerg-sample "$sample/ARCHIWUM" "$sample/CEL"
echo "Sample archive: $sample/ARCHIWUM"
echo "Sample target:  $sample/CEL"
build/tools/kerg-inspect check "$sample/ARCHIWUM"
build/tools/kerg-inspect import "$sample/ARCHIWUM" "$sample/CEL" --backup-done
