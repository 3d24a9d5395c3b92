# wine-installer-common.sh - sourced by the installer tests once they have
# checked their arguments ($1 SETUP.exe, $2 VERSION, $3 ARTIFACT_DIR): starts a
# private display and a fresh Wine prefix, both gone on exit with the
# temporary folder, and sets
#
#   setup version artifacts work   the arguments, and the temporary folder
#   drive_c system32 appdata       where the prefix keeps them
#   uninstall_key desktop_key      the installer's registry keys
#   reg_value KEY NAME             the value's data, empty when the key or value is missing
#
# PIDs a script adds to extra_pids are stopped on exit as well.
. "$(dirname "$0")/wine-prefix.sh"

name=$(basename "$0" .sh)
setup=$(realpath "$1")
version=$2
artifacts=$3
if [ ! -f "$1" ]; then
    echo "$name: no installer at $1 (run scripts/package.sh windows)" >&2
    exit 1
fi
require_tools "$name" wine wineboot wineserver Xvfb xdotool xwd convert

work=$(mktemp -d "/tmp/glidescape-$name.XXXXXX")
xvfb_pid=""
extra_pids=()
cleanup() {
    end_wine_test "$work" "${extra_pids[@]}" "$xvfb_pid"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$artifacts"

. "$(dirname "$0")/../report.sh"

if ! start_private_xvfb "$work"; then
    echo "$name: Xvfb did not start" >&2
    exit 1
fi
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
if ! make_wine_prefix "$work/wineboot.log"; then
    echo "$name: wineboot failed" >&2
    cat "$work/wineboot.log" >&2
    exit 1
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$work/reg.log" 2>&1

drive_c="$WINEPREFIX/drive_c"
system32="$drive_c/windows/system32"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Glidescape'
desktop_key='HKCU\Control Panel\Desktop'
appdata=$(ls -d "$drive_c"/users/*/AppData/Roaming | grep -v /Public/ | head -n1)

reg_value() {
    wine reg query "$1" /v "$2" >"$work/reg.out" 2>/dev/null || return 0
    tr -d '\r' <"$work/reg.out" | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
