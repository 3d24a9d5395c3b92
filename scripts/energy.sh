#!/usr/bin/env bash
# energy.sh - how much processor time each front end that can run here takes
# for a minute of flight, in the cases that matter for a battery: flying with
# and without smooth motion, covered, unmapped or hidden, on battery, stopped
# and with the display off.
#
#   scripts/energy.sh [--seconds N] [--only x11,web,wine] [--x11 PATH]
#                     [--web-site DIR] [--scr PATH]
#
# Prints a table of CPU seconds per minute: the process's user and system
# time with that of its waited-for children (/proc/PID/stat utime, stime,
# cutime, cstime), measured over N seconds (default 60) once the first
# landscape is made, scaled to a minute. Front ends:
#   x11   the Linux saver (default build/default/x11/glidescape) in a
#         1024x768 window on a private Xvfb;
#   web   the page (default build/web/site) in headless Chromium driven by
#         chromium-driver; the whole browser's processes are counted, and a
#         blank page is measured first for comparison;
#   wine  the Windows saver (default build/mingw64/Glidescape.scr) full
#         screen under Wine on a private Xvfb, counting the .scr and the
#         wineserver.
# A front end whose build is missing is skipped with a line saying so. Tools:
# Xvfb, xdotool, xlogo (x11 group of scripts/deps.sh), chromium,
# chromium-driver, python3-selenium (web group), wine (windows group).
# The machine's other load changes the figures a little: run it on a quiet
# machine and compare figures from the same run.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
only="x11,web,wine"
x11_saver="$root/build/default/x11/glidescape"
web_site="$root/build/web/site"
scr="$root/build/mingw64/Glidescape.scr"
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --only) only=$2; shift 2 ;;
        --x11) x11_saver=$2; shift 2 ;;
        --web-site) web_site=$2; shift 2 ;;
        --scr) scr=$2; shift 2 ;;
        -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
        *) echo "energy.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
case "$seconds" in ''|*[!0-9]*|0) echo "energy.sh: --seconds wants a whole number above 0" >&2; exit 2 ;; esac

work=$(mktemp -d /tmp/glidescape-energy.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
    set +e
    for pid in "${pids[@]}"; do
        kill -CONT "$pid" >/dev/null 2>&1
        kill "$pid" >/dev/null 2>&1
    done
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ticks_per_second=$(getconf CLK_TCK)
rows=()
row() { rows+=("$(printf '%-6s %-44s %8s' "$1" "$2" "$3")"); printf '%-6s %-44s %8s\n' "$1" "$2" "$3"; }
skip() { echo "energy.sh: $1: skipped ($2)"; rows+=("$(printf '%-6s %-44s %8s' "$1" "(skipped: $2)" "-")"); }

# cpu_ticks PID...: user + system time of the processes and their waited-for
# children, in clock ticks (processes that are gone count 0).
cpu_ticks() {
    local total=0 pid fields
    for pid in "$@"; do
        fields=$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null) || continue
        # After the command: state is field 3, utime 14 ... cstime 17.
        total=$((total + $(awk '{ print $12 + $13 + $14 + $15 }' <<<"$fields")))
    done
    echo "$total"
}

# tree ROOT: ROOT and all its descendants.
tree() {
    local all=" $1 " added=1 pid parent
    while [ "$added" -eq 1 ]; do
        added=0
        for stat in /proc/[0-9]*/stat; do
            pid=${stat#/proc/}
            pid=${pid%/stat}
            parent=$(sed 's/^.*) //' "$stat" 2>/dev/null | awk '{ print $2 }')
            if [ -n "$parent" ] && [[ "$all" == *" $parent "* ]] && [[ "$all" != *" $pid "* ]]; then
                all="$all$pid "
                added=1
            fi
        done
    done
    echo $all
}

# per_minute TICKS: CPU seconds per minute of the measured span.
per_minute() { python3 -c "print('%.3f' % ($1 / $ticks_per_second * 60 / $seconds))"; }

# measure PIDS_COMMAND: CPU seconds a minute of the processes the command
# names, over $seconds.
measure() {
    local before after
    before=$(cpu_ticks $("$@"))
    sleep "$seconds"
    after=$(cpu_ticks $("$@"))
    per_minute $((after - before))
}

start_xvfb() {  # sets DISPLAY and xvfb_pid
    : >"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    pids+=("$xvfb_pid")
    for _ in $(seq 1 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || return 1
    export DISPLAY=":$(head -n1 "$work/display")"
}

# --- The Linux saver on Xvfb --------------------------------------------------------------------
x11_flying() {  # LOG PID: waits until the first landscape was made and frames are drawn
    local log=$1 pid=$2
    if [ "$x11_timing" -eq 1 ]; then
        for _ in $(seq 1 600); do
            grep -q '^[0-9]' "$log" 2>/dev/null && break
            kill -0 "$pid" 2>/dev/null || return 1
            sleep 0.2
        done
        sleep 1
    else
        # A saver without -timing: the first landscape (Land Size 10) is
        # made within a few seconds.
        sleep 8
    fi
    kill -0 "$pid" 2>/dev/null
}

x11_case() {  # NAME SETUP [ENV=VALUE...] -- ARGS...
    local name=$1 setup=$2
    shift 2
    local env=()
    while [ "$1" != "--" ]; do env+=("$1"); shift; done
    shift
    local log="$work/x11-$setup.log" timing=() pid figure
    [ "$x11_timing" -eq 1 ] && timing=(-timing "$log")
    # The same landscape and flight in every case: a frame's cost depends on
    # the land under it by a fifth or more, more than some cases differ.
    env "${env[@]}" "$x11_saver" -window -geometry 1024x768+0+0 "${timing[@]}" \
        -land-seed 11 -view-seed 12 "$@" \
        >"$work/x11-$setup.out" 2>&1 &
    pid=$!
    pids+=("$pid")
    if ! x11_flying "$log" "$pid"; then
        row x11 "$name" "failed"
        kill "$pid" 2>/dev/null
        return
    fi
    local cover=""
    case "$setup" in
        covered)
            xlogo -geometry 1100x800+0+0 >/dev/null 2>&1 &
            cover=$!
            pids+=("$cover")
            sleep 1
            ;;
        unmapped)
            xdotool windowunmap "$(xdotool search --pid "$pid" --name '^Glidescape$' | head -n1)"
            sleep 1
            ;;
        stopped) kill -STOP "$pid" ;;
        display-off) echo off >"$work/dpms"; sleep 1.5 ;;
    esac
    figure=$(measure echo "$pid")
    row x11 "$name" "$figure"
    [ "$setup" = stopped ] && kill -CONT "$pid"
    [ -n "$cover" ] && kill "$cover" 2>/dev/null
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo on >"$work/dpms"
}

run_x11() {
    if [ ! -x "$x11_saver" ]; then
        skip x11 "no $x11_saver: cmake --build --preset default"
        return
    fi
    for tool in Xvfb xdotool xlogo; do
        command -v "$tool" >/dev/null || { skip x11 "no $tool: scripts/deps.sh x11"; return; }
    done
    start_xvfb || { skip x11 "Xvfb did not start"; return; }
    x11_timing=0
    "$x11_saver" -help 2>&1 | grep -q -- '-timing' && x11_timing=1
    export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
    mkdir -p "$work/supply/AC" "$work/supply/BAT0" "$XDG_CONFIG_HOME"
    echo Mains >"$work/supply/AC/type"
    echo 0 >"$work/supply/AC/online"
    echo Battery >"$work/supply/BAT0/type"
    echo Discharging >"$work/supply/BAT0/status"
    echo on >"$work/dpms"
    echo "x11: $x11_saver on Xvfb $DISPLAY, $seconds s a case"
    x11_case "smooth motion on" smooth -- -smooth
    x11_case "smooth motion off" plain -- -no-smooth
    x11_case "covered by another window" covered -- -smooth
    x11_case "unmapped" unmapped -- -smooth
    x11_case "on battery, \"On Battery\" 1" battery GLIDESCAPE_POWER_SUPPLY_DIR="$work/supply" -- \
        -smooth -on-battery 1
    x11_case "stopped (SIGSTOP)" stopped -- -smooth
    # Xvfb (and Xorg's dummy driver) have no DPMS: the state comes from a
    # file, read where the server's would be.
    x11_case "display off (DPMS state from a file)" display-off GLIDESCAPE_DPMS_FILE="$work/dpms" -- -smooth
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
}

# --- The page in headless Chromium ------------------------------------------------------------
run_web() {
    if [ ! -f "$web_site/index.html" ]; then
        skip web "no $web_site/index.html: cmake --build --preset web"
        return
    fi
    # Debian's python3, whose site packages hold python3-selenium.
    local python=python3
    [ -x /usr/bin/python3 ] && python=/usr/bin/python3
    if ! command -v chromium >/dev/null || ! command -v chromedriver >/dev/null ||
        ! "$python" -c 'import selenium' 2>/dev/null; then
        skip web "no chromium, chromedriver or selenium: scripts/deps.sh web"
        return
    fi
    echo "web: $web_site in headless Chromium, $seconds s a case"
    "$python" - "$web_site" "$seconds" "$ticks_per_second" <<'EOF'
import os, shutil, socket, subprocess, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

site, seconds, hz = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def tree(root):
    children = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open("/proc/%s/stat" % name) as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(name))
            except (OSError, IndexError, ValueError):
                pass
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found

def ticks(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += sum(int(v) for v in fields[11:15])
        except (OSError, IndexError, ValueError):
            pass
    return total

def measure(browser_root):
    # The browser's processes (not the driver, which only waits).
    pids = [p for p in tree(browser_root) if p != browser_root]
    before = ticks(pids)
    time.sleep(seconds)
    pids = sorted(set(pids) | set(p for p in tree(browser_root) if p != browser_root))
    return (ticks(pids) - before) / hz * 60 / seconds

sock = socket.socket()
sock.bind(("127.0.0.1", 0))
port = sock.getsockname()[1]
sock.close()
server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
                           "--directory", site], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
profile = tempfile.mkdtemp(prefix="glidescape-energy-chromium-")
options = webdriver.ChromeOptions()
options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
for flag in ("--headless=new", "--disable-gpu", "--window-size=1024,768", "--disable-dev-shm-usage",
             "--user-data-dir=" + profile):
    options.add_argument(flag)
if os.geteuid() == 0:
    options.add_argument("--no-sandbox")
driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                          options=options)
root = driver.service.process.pid
url = "http://127.0.0.1:%d/index.html" % port
try:
    time.sleep(1)
    for _ in range(100):
        try:
            driver.get(url.replace("index.html", ""))
            break
        except Exception:
            time.sleep(0.2)
    driver.get("about:blank")
    time.sleep(2)
    print("web    %-44s %8.3f" % ("blank page (the browser alone)", measure(root)), flush=True)

    def flying(query):
        driver.get(url + query)
        deadline = time.time() + 300
        while time.time() < deadline:
            try:
                if driver.execute_script("return window.glidescape && window.glidescape.info().frames >= 10"):
                    break
            except Exception:
                pass
            time.sleep(0.2)
        time.sleep(1)

    flying("?smooth=1")
    print("web    %-44s %8.3f" % ("smooth motion on", measure(root)), flush=True)
    flying("?smooth=0")
    print("web    %-44s %8.3f" % ("smooth motion off", measure(root)), flush=True)
    flying("?smooth=1")
    # Another tab in front; the driver stays with the page (asking it does
    # not bring it to the front).
    driver.execute_cdp_cmd("Target.createTarget", {"url": "about:blank"})
    time.sleep(1)
    hidden = driver.execute_script("return document.hidden")
    figure = measure(root)
    hidden = hidden and driver.execute_script("return document.hidden")
    print("web    %-44s %8.3f" % ("hidden (another tab in front)%s" % ("" if hidden else " NOT HIDDEN"),
                                  figure), flush=True)
finally:
    driver.quit()
    server.terminate()
    server.wait(timeout=30)
    shutil.rmtree(profile, ignore_errors=True)
EOF
}

# --- The Windows saver under Wine -------------------------------------------------------------
# prefix_process PATTERN: the first process whose command line matches and
# that runs in our prefix (other Wine prefixes may run beside it).
prefix_process() {
    local pid
    for pid in $(pgrep -f "$1"); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
    done
}

run_wine() {
    if [ ! -f "$scr" ]; then
        skip wine "no $scr: cmake --build --preset mingw64"
        return
    fi
    for tool in wine wineboot wineserver Xvfb; do
        command -v "$tool" >/dev/null || { skip wine "no $tool: scripts/deps.sh windows"; return; }
    done
    . "$root/tests/win32/wine-prefix.sh"
    start_xvfb || { skip wine "Xvfb did not start"; return; }
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    unset WAYLAND_DISPLAY
    if ! make_wine_prefix "$work/wineboot.log"; then
        skip wine "wineboot failed"
        return
    fi
    mkdir -p "$WINEPREFIX/drive_c/glide"
    cp "$scr" "$WINEPREFIX/drive_c/glide/Glidescape.scr"
    local appdata="" dir
    for dir in "$WINEPREFIX"/drive_c/users/*/AppData/Roaming; do
        case "$dir" in */Public/*) continue ;; esac
        appdata=$dir
        break
    done
    mkdir -p "$appdata/Glidescape"
    echo "wine: $scr full screen under Wine on Xvfb $DISPLAY, $seconds s a case"
    local smooth name pid server
    for smooth in 1 0; do
        printf '[Glidescape]\r\nSmooth Motion=%s\r\n' "$smooth" >"$appdata/Glidescape/Glidescp.ini"
        [ "$smooth" = 1 ] && name="smooth motion on" || name="smooth motion off"
        wine 'C:\glide\Glidescape.scr' /s >"$work/wine-$smooth.log" 2>&1 &
        pid=$!
        pids+=("$pid")
        # The first landscape (Land Size 10) within a few seconds.
        sleep 10
        local scr_pid
        scr_pid=$(prefix_process 'Glidescape\.scr')
        server=$(prefix_process 'wineserver')
        if [ -z "$scr_pid" ] || [ -z "$server" ]; then
            row wine "$name" "failed"
        else
            row wine "$name (.scr + wineserver)" "$(measure echo "$scr_pid" "$server")"
        fi
        [ -n "$scr_pid" ] && kill "$scr_pid" 2>/dev/null
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        sleep 1
    done
    wineserver -k >/dev/null 2>&1
}

echo "CPU seconds per minute of flight (user + system, children included), $seconds s a case"
IFS=, read -r -a wanted <<<"$only"
for frontend in "${wanted[@]}"; do
    case "$frontend" in
        x11) run_x11 ;;
        web) run_web ;;
        wine) run_wine ;;
        *) echo "energy.sh: unknown front end '$frontend' (x11, web, wine)" >&2 ;;
    esac
done
