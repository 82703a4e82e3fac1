#!/usr/bin/env bash
# Installs what is missing, builds, writes the built-in sample office next to the built program
# (so that the program's default target directory holds its BAZA) and starts kerg-import.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source tools/deps.sh
kerg_install_missing

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what is started below: the program, and the tools that write and check the sample office.
# (tools/test.sh builds the tests, in a directory of its own.)
cmake --build build -j "$(nproc)" --target kerg-import kerg-sample kerg-inspect

# The program's directory is the target: BAZA next to the program, the archive below it.
bin="$root/build/app"
archive="$bin/ARCHIWUM"
rm -rf "$bin/BAZA" "$archive"
build/tools/kerg-sample "$archive" "$bin"
# The sample's commune renumbering becomes the program's renumbering file (kerg-import.gm).
mv "$bin/przenumerowanie.gm" "$bin/kerg-import.gm"
build/tools/kerg-inspect check "$archive"

echo
echo "Sample target directory (the default of \"Kartoteka z danymi  wyjściowymi\"): $bin/"
echo "Archive directory to type in (\"Kartoteka z danymi  wejściowymi\"):           $archive/"
echo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display to show the program on (DISPLAY is not set). Start it from a desktop session:" >&2
    echo "    $bin/kerg-import" >&2
    exit 1
fi
exec "$bin/kerg-import"
