#!/usr/bin/env bash
# Starts the built program on a virtual X display (Xvfb), waits up to thirty seconds for its main
# window "Import KERG" to be mapped on the screen, then presses Esc in it and expects the program
# to end by itself with exit code 0. Fails when the window does not appear or the program does
# not end. Under a loaded machine (the sanitizer build, tests running beside it) a window can be
# mapped before it takes keyboard input: Esc is pressed again every two seconds, five times at
# most, and each press is bounded in time.
# Usage: start_under_xvfb.sh PROGRAM
set -euo pipefail
program="$1"
for tool in xvfb-run xwininfo xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "missing $tool (Debian packages xvfb, x11-utils and xdotool; see tools/deps.sh)" >&2
        exit 1
    fi
done

export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    # The display must answer before the program starts: right after an earlier server on the same
    # number ended, a new one can take a moment to accept connections.
    for _ in $(seq 1 100); do
        xwininfo -root >/dev/null 2>&1 && break
        sleep 0.1
    done
    "$1" &
    pid=$!
    id=""
    for _ in $(seq 1 300); do
        id=$(xwininfo -root -tree 2>/dev/null | awk "/\"Import KERG\"/ { print \$1; exit }")
        if [ -n "$id" ] && xwininfo -id "$id" | grep -q "Map State: IsViewable"; then
            break
        fi
        id=""
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "the program ended without showing its main window" >&2
            exit 1
        fi
        sleep 0.1
    done
    if [ -z "$id" ]; then
        echo "no window titled \"Import KERG\" appeared" >&2
        kill "$pid"
        exit 1
    fi
    echo "main window $id is on the screen"

    # Esc is the window'"'"'s cancel key: the program closes.
    for press in 1 2 3 4 5; do
        timeout 5 xdotool windowfocus --sync "$id" key Escape || echo "Esc press $press not delivered" >&2
        for _ in $(seq 1 20); do
            if ! kill -0 "$pid" 2>/dev/null; then
                status=0
                wait "$pid" || status=$?
                echo "ended after Esc press $press with exit code $status"
                exit "$status"
            fi
            sleep 0.1
        done
    done
    echo "the program did not end after five presses of Esc" >&2
    kill "$pid"
    exit 1
' start "$program"
