# wine-prefix.sh - sourced by the Wine test scripts: makes the fresh prefix
# in $WINEPREFIX.
#
#   require_tools SCRIPT TOOL...  -> exits 1 naming the first missing tool
#                             (all come from scripts/deps.sh windows)
#   make_wine_prefix LOG   -> 0 when the prefix is ready; wineboot's output
#                             goes to LOG (a file, never a pipe: Wine's
#                             background processes would keep it open). With
#                             GLIDESCAPE_WINE_TEMPLATE set (a folder) the
#                             prefix is a copy of one booted there once
#   new_wineserver         -> stops the prefix's wineserver, waits for it
#                             and starts a new persistent one (settings read
#                             when the desktop process starts take effect)
#   end_wine_test WORK PID... -> stops the prefix's wineserver and waits for
#                             it, kills and waits for each PID the script
#                             started (empty ones are skipped; never any
#                             other server), removes WORK; for the EXIT trap
#
# A first boot of a new prefix now and then stops with "could not load
# kernel32.dll" while the system is busy; a second try in a clean folder has
# always worked, so one failure is retried before giving up.
#
# The prefix's wineserver is started first and kept running until the caller
# stops it (wineserver -k): left to itself it exits a few seconds after its
# last client, and a program started just then fails with "recvmsg:
# Connection reset by peer".
#
# Fonts: Debian's Wine 8 does not load Wine's own fonts from their folder
# (package fonts-wine) into a new prefix, so their TrueType files are put into
# the prefix's Fonts folder: Tahoma and MS Sans Serif, which stand for the dialog font on
# Windows, and Marlett for the caption buttons. Without them Wine falls back
# to a wider font, and make_wine_prefix fails.
wine_fonts=/usr/share/wine/fonts
new_wineserver() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    wineserver -p >/dev/null 2>&1
}

end_wine_test() {
    set +e
    local work_dir=$1 pid
    shift
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1
        wineserver -w >/dev/null 2>&1
    fi
    for pid in "$@"; do
        [ -n "$pid" ] || continue
        kill "$pid" >/dev/null 2>&1
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work_dir"
}

make_wine_prefix() {
    local log=$1 template=${GLIDESCAPE_WINE_TEMPLATE:-} stamp
    if [ -z "$template" ]; then
        boot_wine_prefix "$log"
        return
    fi
    # Booting a prefix takes Wine over ten seconds; the tests of one build
    # boot one template (the first test that needs it, under a lock, for
    # this Wine) and copy it. The template's wineserver is stopped before
    # it is marked ready, so its registry is on disk.
    stamp="$(wine --version 2>/dev/null) $(stat -c %Y "$wine_fonts"/tahoma.ttf 2>/dev/null)"
    mkdir -p "$(dirname "$template")"
    if ! (
        flock 9
        if [ "$(cat "$template/ready" 2>/dev/null)" != "$stamp" ]; then
            rm -rf "$template"
            mkdir -p "$template"
            WINEPREFIX="$template/prefix" boot_wine_prefix "$log" || exit 1
            WINEPREFIX="$template/prefix" wineserver -k >/dev/null 2>&1
            WINEPREFIX="$template/prefix" wineserver -w >/dev/null 2>&1
            printf '%s' "$stamp" >"$template/ready"
        fi
    ) 9>"$template.lock"; then
        return 1
    fi
    mkdir -p "$WINEPREFIX"
    cp -a "$template/prefix/." "$WINEPREFIX/" 2>>"$log" || return 1
    wineserver -p >/dev/null 2>&1
}

boot_wine_prefix() {
    local log=$1 try
    for try in 1 2; do
        mkdir -p "$WINEPREFIX"
        wineserver -p >/dev/null 2>&1
        if wineboot -i >"$log" 2>&1; then
            if ! cp "$wine_fonts"/tahoma.ttf "$wine_fonts"/ms_sans_serif.ttf \
                "$wine_fonts"/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>>"$log"; then
                echo "make_wine_prefix: Wine's fonts missing (scripts/deps.sh windows)" >>"$log"
                return 1
            fi
            return 0
        fi
        wineserver -k >/dev/null 2>&1
        wineserver -w >/dev/null 2>&1
        cp "$log" "$log.try$try" 2>/dev/null
        rm -rf "$WINEPREFIX"
    done
    return 1
}

# start_private_xvfb WORK -> 0 when a private Xvfb (1024x768x24) is up;
# exports DISPLAY and sets xvfb_pid. Its log goes to WORK/xvfb.log.
start_private_xvfb() {
    local work=$1
    : >"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || return 1
    export DISPLAY=":$(head -n1 "$work/display")"
}

require_tools() {
    local script=$1 tool
    shift
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "$script: missing $tool (run scripts/deps.sh windows)" >&2
            exit 1
        fi
    done
}
