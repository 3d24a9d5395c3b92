#!/usr/bin/env bash
# check-resources.sh - checks the resources and imports of the built saver
# without running it: the configuration dialog's template, the icon group,
# the manifest and the DLLs it needs.
#
#   check-resources.sh SAVER.scr WINDRES OBJDUMP EXPECTED_DIALOG.rc VERSION
set -u
saver=$1
windres=$2
objdump=$3
expected_dialog=$4
version=$5

failed=0
bad() {
    echo "FAIL  $*"
    failed=1
}

resources=$("$windres" -i "$saver" -O rc 2>/dev/null) || bad "windres cannot read $saver"

# The dialog, control by control (styles, positions, ids and texts).
if ! diff -u "$expected_dialog" <(awk '/^2003 DIALOG/,/^END/' <<<"$resources"); then
    bad "dialog 2003 differs from $expected_dialog"
fi

# One icon group, id 104, holding one 32 x 32 16-colour (4-bit) icon.
group=$(awk '/^104 14/,/^END/' <<<"$resources")
grep -q 'Has 1 elements' <<<"$group" || bad "icon group 104 missing or not one icon: $group"
grep -q '"\\040\\040\\020\\000", 1, 4,' <<<"$group" || bad "icon is not 32 x 32 with 16 colours"

# Manifest: run as invoker, common controls 6, per-monitor DPI aware,
# compatible with Vista to 10/11 (tests/win32/check-manifest.py).
python3 "$(dirname "$0")/check-manifest.py" <<<"$resources" || failed=1

# A version resource with the project's version.
grep -q 'VERSIONINFO' <<<"$resources" || bad "no version resource"
rc_version="${version//./, }, 0"
grep -q "^ *FILEVERSION $rc_version\$" <<<"$resources" || bad "FILEVERSION is not $rc_version"
grep -q "^ *PRODUCTVERSION $rc_version\$" <<<"$resources" || bad "PRODUCTVERSION is not $rc_version"
grep -q "VALUE \"ProductVersion\", \"$version.0\"" <<<"$resources" || bad "ProductVersion is not $version.0"

# Only the system's own DLLs: the C and C++ runtimes are linked in.
imports=$("$objdump" -p "$saver" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
for dll in $imports; do
    case "$dll" in
        ADVAPI32.DLL | GDI32.DLL | KERNEL32.DLL | MSVCRT.DLL | SHELL32.DLL | USER32.DLL | WINMM.DLL) ;;
        *) bad "unexpected DLL import $dll" ;;
    esac
done
"$objdump" -p "$saver" | grep -q 'Subsystem.*Windows GUI' || bad "not a GUI program"
# A saver never keeps the display awake (dwmapi.dll and the power
# notifications are looked up at run time, never imported).
if "$objdump" -p "$saver" | grep -q 'SetThreadExecutionState\|PowerSetRequest'; then
    bad "imports a call that keeps the display awake"
fi

if [ $failed -eq 0 ]; then
    echo "resources and imports of $saver as expected ($imports)"
fi
exit $failed
