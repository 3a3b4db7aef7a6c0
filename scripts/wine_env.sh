# Wine and a virtual display for running the Windows builds on Linux.
# Sourced by scripts/run and scripts/test; expects ROOT to be the project root.

export WINEPREFIX="${PIXMORA_WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDEBUG=-all
PIXMORA_XVFB_PID=""

# Creates the project's own Wine prefix once (12-20 s) and tunes it for tests.
pixmora_wine_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        # Without a window manager every closed dialog would stall ~2 s.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        wineserver -w
    fi
}

# A test prefix with no mailto handler, so the About link's failure path runs.
pixmora_wine_no_mail() {
    wine reg delete 'HKCR\mailto' /f >/dev/null 2>&1
    wineserver -w
}

# Starts Xvfb on a free display and exports DISPLAY.
pixmora_start_xvfb() {
    local fifo="$ROOT/build/.xvfb-display"
    mkdir -p "$ROOT/build"
    rm -f "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    PIXMORA_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        [ -s "$fifo" ] && break
        sleep 0.1
    done
    if [ ! -s "$fifo" ]; then
        echo "pixmora: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$fifo")"
}

pixmora_stop_xvfb() {
    wineserver -k >/dev/null 2>&1
    if [ -n "$PIXMORA_XVFB_PID" ]; then
        kill "$PIXMORA_XVFB_PID" 2>/dev/null
        wait "$PIXMORA_XVFB_PID" 2>/dev/null
        PIXMORA_XVFB_PID=""
    fi
}

# True when this machine can start 32-bit programs. Wine runs an i686 .exe
# through its 32-bit Linux loader, which some kernels (no IA-32 emulation,
# as in some virtual machines) refuse with "Exec format error".
pixmora_runs_32bit() {
    local loader
    for loader in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine; do
        [ -x "$loader" ] || continue
        "$loader" --version >/dev/null 2>&1
        [ $? -ne 126 ]  # 126: the kernel would not execute it
        return
    done
    return 1
}

# Debian's `wine` script always starts the 32-bit loader when it is installed,
# even for a 64-bit program; on a machine that cannot start 32-bit programs,
# `wine` (and the tools that call `wine-stable`, such as wineboot and
# winepath) go straight to the 64-bit loader instead.
pixmora_wine_64bit_only() {
    local dir="$ROOT/build/wine64-only" name
    mkdir -p "$dir"
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$dir/$name"
        chmod +x "$dir/$name"
    done
    export PATH="$dir:$PATH"
    export WINELOADER=/usr/lib/wine/wine64
}
if [ -x /usr/lib/wine/wine64 ] && ! pixmora_runs_32bit; then
    pixmora_wine_64bit_only
fi
