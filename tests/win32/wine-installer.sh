#!/usr/bin/env bash
# wine-installer.sh - the Windows installer under Wine: a silent install puts
# the saver into the system folder, registers the uninstaller with the right
# version and, when asked, makes Glidescape the current screen saver; the
# installed saver starts full screen and draws; a silent uninstall leaves no
# file and no key behind and keeps the user's settings file.
#
#   wine-installer.sh SETUP.exe VERSION ARTIFACT_DIR
#
# SETUP.exe is the 64-bit build of the installer (scripts/package.sh makes it
# beside the shipped 32-bit one): Debian's Wine runs 64-bit programs only.
# Makes its own display and Wine prefix and removes both on exit.
set -u
if [ $# -ne 3 ]; then
    echo "usage: $0 SETUP.exe VERSION ARTIFACT_DIR" >&2
    exit 2
fi
. "$(dirname "$0")/wine-installer-common.sh"

echo "--- silent install with /CURRENT"
wine "$(printf 'Z:%s' "${setup//\//\\}")" /S /CURRENT >"$work/install.log" 2>&1
expect "installer exit code" "$?" 0
[ -f "$system32/Glidescape.scr" ] && ok "saver in C:\\windows\\system32" || bad "no saver in system32"
expect "uninstall key version" "$(reg_value "$uninstall_key" DisplayVersion)" "$version"
expect "uninstall key publisher" "$(reg_value "$uninstall_key" Publisher)" "Quillon Software"
expect "uninstall key icon" "$(reg_value "$uninstall_key" DisplayIcon)" 'C:\windows\System32\Glidescape.scr,0'
size=$(reg_value "$uninstall_key" EstimatedSize)
[ -n "$size" ] && [ $((size)) -gt 100 ] && ok "uninstall key size $((size)) KiB" || bad "uninstall key size '$size'"
uninstaller=$(reg_value "$uninstall_key" UninstallString)
expect "current screen saver" "$(reg_value "$desktop_key" SCRNSAVE.EXE)" 'C:\windows\System32\Glidescape.scr'

echo "--- the installed saver flies"
mkdir -p "$appdata/Glidescape"
printf '[Glidescape]\r\nLand Size=8\r\n' >"$appdata/Glidescape/Glidescp.ini"
xdotool mousemove 512 384
wine 'C:\windows\system32\Glidescape.scr' /s >"$work/saver.log" 2>&1 &
saver_pid=$!
colours=0
for _ in $(seq 1 60); do
    sleep 0.5
    xwd -root -silent | convert xwd:- "$artifacts/installed-saver.png" 2>/dev/null
    colours=$(convert "$artifacts/installed-saver.png" -format '%k' info: 2>/dev/null || echo 0)
    [ "$colours" -gt 500 ] && break
done
[ "$colours" -gt 500 ] && ok "installed saver draws a landscape ($colours colours)" \
    || bad "installed saver shows $colours colours"
xdotool key space
for _ in $(seq 1 100); do kill -0 "$saver_pid" 2>/dev/null || break; sleep 0.1; done
wait "$saver_pid"
expect "saver ends on a key with 0" "$?" 0

echo "--- a silent install without /CURRENT leaves the current screen saver alone"
wine reg add "$desktop_key" /v SCRNSAVE.EXE /d 'C:\windows\system32\other.scr' /f >>"$work/reg.log" 2>&1
wine "$(printf 'Z:%s' "${setup//\//\\}")" /S >"$work/install2.log" 2>&1
expect "reinstall exit code" "$?" 0
expect "current screen saver kept" "$(reg_value "$desktop_key" SCRNSAVE.EXE)" 'C:\windows\system32\other.scr'

echo "--- silent uninstall"
wine "${uninstaller//\"/}" /S >"$work/uninstall.log" 2>&1
# The uninstaller copies itself away and may still be running: wait for it.
for _ in $(seq 1 100); do
    [ -f "$system32/Glidescape.scr" ] || [ -n "$(reg_value "$uninstall_key" DisplayVersion)" ] || break
    sleep 0.2
done
sleep 1
[ -f "$system32/Glidescape.scr" ] && bad "saver left in system32" || ok "saver removed"
[ -d "$drive_c/Program Files/Glidescape" ] && bad "install folder left" || ok "install folder removed"
wine reg query "$uninstall_key" >/dev/null 2>&1 && bad "uninstall key left" || ok "uninstall key removed"
expect "another current screen saver kept" "$(reg_value "$desktop_key" SCRNSAVE.EXE)" 'C:\windows\system32\other.scr'
[ -f "$appdata/Glidescape/Glidescp.ini" ] && ok "user settings kept" || bad "user settings removed"

echo "--- uninstall clears the current screen saver when it is Glidescape"
wine "$(printf 'Z:%s' "${setup//\//\\}")" /S /CURRENT >"$work/install3.log" 2>&1
wine "${uninstaller//\"/}" /S /REMOVESETTINGS >"$work/uninstall2.log" 2>&1
for _ in $(seq 1 100); do [ -f "$system32/Glidescape.scr" ] || break; sleep 0.2; done
sleep 1
expect "current screen saver cleared" "$(reg_value "$desktop_key" SCRNSAVE.EXE)" ""
[ -f "$appdata/Glidescape/Glidescp.ini" ] && bad "settings kept despite /REMOVESETTINGS" \
    || ok "/REMOVESETTINGS removes the settings"

report_summary
