#!/usr/bin/env bash
# The Windows build, checked on Linux: cross-compiles the libraries, kerg-inspect, kerg-sample and
# their tests with mingw-w64, runs the tests under wine, and checks that a sample office written
# and imported on Windows is the same, byte for byte (header dates aside), as on Linux.
# Called by test.sh with the native build folder (its kerg-sample and kerg-inspect are the
# Linux side of the comparison); the packages come from deps.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
native="${1:?usage: test-windows.sh NATIVE_BUILD_DIR}"
jobs="$(nproc)"

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKERG_BUILD_GUI=OFF -DKERG_BUILD_BENCH=OFF
cmake --build build-win -j "$jobs"

# A wine of our own, quiet and headless, with drive D: mapped to a scratch folder so that paths
# such as D:\DANE\ARCH\ can be used as the office types them.
export WINEPREFIX="$root/build-win/wine"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
drive="$root/build-win/drive-d"
rm -rf "$drive"
mkdir -p "$drive"
[ -d "$WINEPREFIX/dosdevices" ] || wineboot -i > /dev/null 2>&1 || true
ln -sfn "$drive" "$WINEPREFIX/dosdevices/d:"

echo "Running the Windows tests under $(wine --version)"
(cd build-win && KERG_TEST_DRIVE=D: ctest --output-on-failure -j "$jobs")

# The same sample office on both systems, then the same import over it.
linux="$root/build-win/compare-linux"
rm -rf "$linux" "${drive:?}"/*
"$native/tools/kerg-sample" --works 400 --seed 11 "$linux/ARCH" "$linux/CEL"
wine build-win/tools/kerg-sample.exe --works 400 --seed 11 'D:\ARCH\' 'D:\CEL\'
"$native/tools/kerg-inspect" digest "$linux" > build-win/sample-linux.txt
"$native/tools/kerg-inspect" digest "$drive" > build-win/sample-windows.txt
diff -u build-win/sample-linux.txt build-win/sample-windows.txt
echo "Sample office identical on Linux and Windows: $(wc -l < build-win/sample-linux.txt) files," \
    "digest $(sha256sum < build-win/sample-linux.txt | cut -c1-16)"

# The messages and the report's summary alike; only the report's path differs.
"$native/tools/kerg-inspect" import "$linux/ARCH" "$linux/CEL" --backup-done --today 2026-03-16 |
    grep -v 'Raport zapisano w pliku: ' > build-win/import-linux.txt
wine build-win/tools/kerg-inspect.exe import 'D:\ARCH\' 'D:\CEL\' --backup-done --today 2026-03-16 |
    tr -d '\r' | grep -v 'Raport zapisano w pliku: ' > build-win/import-windows.txt
diff -u build-win/import-linux.txt build-win/import-windows.txt
"$native/tools/kerg-inspect" digest "$linux/CEL" > build-win/target-linux.txt
"$native/tools/kerg-inspect" digest "$drive/CEL" > build-win/target-windows.txt
diff -u build-win/target-linux.txt build-win/target-windows.txt
if diff -q build-win/sample-linux.txt <("$native/tools/kerg-inspect" digest "$linux") > /dev/null; then
    echo "The import changed nothing: the comparison would prove nothing" >&2
    exit 1
fi
echo "Import identical on Linux and Windows: $(wc -l < build-win/target-linux.txt) target files," \
    "digest $(sha256sum < build-win/target-linux.txt | cut -c1-16)"
