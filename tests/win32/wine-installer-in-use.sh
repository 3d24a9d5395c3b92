#!/usr/bin/env bash
# wine-installer-in-use.sh - the Windows installer and uninstaller under Wine
# while the installed saver runs: the preview the Screen Saver settings keep
# running, and the full-screen saver. Wine, like Windows, refuses to write or
# delete the file of a running program (opening it for writing fails with a
# sharing violation, deleting it with access denied), so nothing here is
# emulated. Each run then records the replacement or the deletion for the next
# restart, exits with 3010 and keeps the uninstall entry while the saver is
# there; a restart (wineboot -r carries out the recorded operations, as
# Windows does when it starts) finishes the job; with the saver ended the
# same runs exit with 0; a write that fails for another reason exits with 2.
#
#   wine-installer-in-use.sh SETUP.exe VERSION ARTIFACT_DIR HARNESS.exe
#
# The uninstaller runs as a caller that waits for its exit code runs it:
# Uninstall.exe itself hands over to a copy of itself in the temporary folder
# and returns at once, so the test starts such a copy with "_?=<install folder>".
set -u
if [ $# -ne 4 ]; then
    echo "usage: $0 SETUP.exe VERSION ARTIFACT_DIR HARNESS.exe" >&2
    exit 2
fi
harness_build=$4
. "$(dirname "$0")/wine-installer-common.sh"
. "$(dirname "$0")/wine-harness.sh"

mkdir -p "$drive_c/glide/un"
cp "$harness_build" "$drive_c/glide/harness.exe"
if ! start_idle_helper; then
    echo "$name: the harness did not start" >&2
    exit 1
fi
extra_pids+=("$idle_pid")
mkdir -p "$appdata/Glidescape"
printf '[Glidescape]\r\nLand Size=8\r\n' >"$appdata/Glidescape/Glidescp.ini"
# The pointer stays here: a move would end the full-screen saver.
xdotool mousemove 512 384

saver='C:\windows\system32\Glidescape.scr'
saver_file="$system32/Glidescape.scr"
install_dir="$drive_c/Program Files/Glidescape"
session_key='HKLM\System\CurrentControlSet\Control\Session Manager'

# run_installer ARGS...: a silent install; prints its exit code.
run_installer() { field exit "$(H run 120000 "$(winpath "$setup") /S $*")"; }

# run_uninstaller: a silent uninstall by a copy of the installed
# Uninstall.exe; prints its exit code.
run_uninstaller() {
    cp "$install_dir/Uninstall.exe" "$drive_c/glide/un/Uninstall.exe" || return
    field exit "$(H run 120000 'C:\glide\un\Uninstall.exe /S _?=C:\Program Files\Glidescape')"
}

# pending: the file operations recorded for the restart, one "FROM>TO" a
# line: TO is empty for a deletion and starts with "!" for a move that
# replaces TO.
pending() {
    wine reg query "$session_key" /v PendingFileRenameOperations >"$work/pending.out" 2>/dev/null \
        || return 0
    tr -d '\r' <"$work/pending.out" | sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ *//p' \
        | sed 's/\\??\\//g; s/\\0/\n/g' | paste -d '>' - -
}

restart() { wineboot -r >"$work/restart.log" 2>&1; }

sum_of() { md5sum <"$1" | cut -d' ' -f1; }

# New savers waiting beside the installed one for the restart.
waiting() { ls "$system32" | grep -i '^Glidescape\.scr\..*\.new$'; }

# older: makes the installed saver an older build (bytes after the image
# change nothing when it runs); old_sum is its checksum.
older() {
    printf 'an older build' >>"$saver_file"
    old_sum=$(sum_of "$saver_file")
}

start_full() {
    launch full 120000 "$saver /s"
    H find WindowsScreenSaverClass '*' 30000 >"$work/full.find" \
        && ok "the full-screen saver runs from the system folder" \
        || bad "the full-screen saver did not start" "$(cat "$work/full.find")"
}

end_full() {
    xdotool key space
    expect "the full-screen saver ends on a key with 0" "$(exit_of full 20)" "0"
}

start_preview_from_system() {
    local parent
    parent=$(start_preview "$1" 320 240 "/p")
    expect "the preview runs from the system folder" \
        "$(field class "$(H child "$parent" 30000)")" "WindowsScreenSaverClass"
}

# replacement_waits: the saver in the system folder is still the older one,
# the new one waits beside it, and its move onto the saver is recorded.
replacement_waits() {
    local new
    expect "the saver in use is left as it is" "$(sum_of "$saver_file")" "$old_sum"
    new=$(waiting)
    [ "$(wc -l <<<"$new")" -eq 1 ] && [ -n "$new" ] \
        && expect "the new saver waits beside it" "$(sum_of "$system32/$new")" "$new_sum" \
        || bad "one new saver waits beside it" "found '$new'"
    pending | grep -qixF "C:\\windows\\System32\\$new>!C:\\windows\\System32\\Glidescape.scr" \
        && ok "its move onto the saver is recorded for the restart" \
        || bad "its move onto the saver is recorded for the restart" "$(pending)"
    expect "uninstall key version" "$(reg_value "$uninstall_key" DisplayVersion)" "$version"
}

# removal_waits: the saver is still there, its deletion is recorded, and so
# is what removes Glidescape.
removal_waits() {
    [ -f "$saver_file" ] && ok "the saver in use is still there" || bad "the saver in use is gone"
    pending | grep -qixF 'C:\windows\System32\Glidescape.scr>' \
        && ok "its deletion is recorded for the restart" \
        || bad "its deletion is recorded for the restart" "$(pending)"
    expect "uninstall key kept" "$(reg_value "$uninstall_key" DisplayVersion)" "$version"
    [ -f "$install_dir/Uninstall.exe" ] && ok "Uninstall.exe kept" || bad "Uninstall.exe removed"
}

nothing_waits() {
    expect "no new saver waits" "$(waiting)" ""
    expect "no operation on the saver recorded" "$(pending | grep -ci glidescape)" "0"
}

echo "--- install while the Screen Saver settings' preview runs"
expect "first install exit code" "$(run_installer)" "0"
new_sum=$(sum_of "$saver_file")
older
start_preview_from_system pv
expect "install exit code" "$(run_installer)" "3010"
replacement_waits
expect "the preview ends with 0" "$(end_preview pv)" "0"
restart
expect "after the restart the new saver is in place" "$(sum_of "$saver_file")" "$new_sum"
nothing_waits

echo "--- install while the full-screen saver runs, and again once it ended"
older
start_full
expect "install exit code" "$(run_installer /CURRENT)" "3010"
replacement_waits
end_full
expect "install after the saver ended exit code" "$(run_installer /CURRENT)" "0"
expect "the new saver is in place at once" "$(sum_of "$saver_file")" "$new_sum"
expect "the waiting one is called off" "$(waiting)" ""
restart
expect "the restart leaves the new saver" "$(sum_of "$saver_file")" "$new_sum"

echo "--- uninstall while the full-screen saver runs; a reinstall before the restart waits for it"
start_full
expect "uninstall exit code" "$(run_uninstaller)" "3010"
removal_waits
expect "current screen saver cleared" "$(reg_value "$desktop_key" SCRNSAVE.EXE)" ""
end_full
expect "reinstall before the restart exit code" "$(run_installer)" "3010"
restart
expect "after the restart the reinstalled saver is in place" "$(sum_of "$saver_file")" "$new_sum"
expect "uninstall key version" "$(reg_value "$uninstall_key" DisplayVersion)" "$version"
nothing_waits

echo "--- uninstall while the preview runs; after the restart the uninstaller finishes"
start_preview_from_system pv2
expect "uninstall exit code" "$(run_uninstaller)" "3010"
removal_waits
expect "the preview ends with 0" "$(end_preview pv2)" "0"
restart
[ -f "$saver_file" ] && bad "the restart left the saver" || ok "the restart removes the saver"
expect "uninstall key kept until the uninstaller finishes" \
    "$(reg_value "$uninstall_key" DisplayVersion)" "$version"
expect "uninstall after the restart exit code" "$(run_uninstaller)" "0"
wine reg query "$uninstall_key" >/dev/null 2>&1 && bad "uninstall key left" || ok "uninstall key removed"
[ -d "$install_dir" ] && bad "install folder left" || ok "install folder removed"

echo "--- a write that fails for another reason than a running saver"
# A folder where the saver goes: nothing can be written there, now or later.
mkdir "$saver_file"
expect "install exit code" "$(run_installer)" "2"
nothing_waits

report_summary
