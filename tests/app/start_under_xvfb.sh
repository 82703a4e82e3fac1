#!/usr/bin/env bash
# Starts the built program on a virtual X display (Xvfb) and passes when its main window
# "Import KERG" is mapped on the screen within ten seconds; fails otherwise.
# Usage: start_under_xvfb.sh PROGRAM
set -euo pipefail
program="$1"
for tool in xvfb-run xwininfo; do
    if ! command -v "$tool" >/dev/null; then
        echo "missing $tool (Debian packages xvfb and x11-utils; see tools/deps.sh)" >&2
        exit 1
    fi
done

export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" &
    pid=$!
    for _ in $(seq 1 100); do
        id=$(xwininfo -root -tree 2>/dev/null | awk "/\"Import KERG\"/ { print \$1; exit }")
        if [ -n "$id" ] && xwininfo -id "$id" | grep -q "Map State: IsViewable"; then
            echo "main window $id is on the screen"
            kill "$pid"
            wait "$pid" 2>/dev/null || true
            exit 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "the program ended without showing its main window" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo "no window titled \"Import KERG\" appeared" >&2
    kill "$pid"
    exit 1
' start "$program"
