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

# Manifest: compatible with Vista to 10/11, not DPI aware, run as invoker.
manifest=$(awk '/^1 24/,/^END/' <<<"$resources")
[ -n "$manifest" ] || bad "no manifest resource"
manifest_text=$(grep -o '"[^"]*"' <<<"$manifest" | tr -d '"\n' | sed 's/\\r\\n//g; s/\\"/"/g')
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
    8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -qi "$os" <<<"$manifest_text" || bad "manifest lacks supportedOS $os"
done
grep -qi 'dpiAware' <<<"$manifest_text" && bad "manifest declares DPI awareness"
grep -q 'asInvoker' <<<"$manifest_text" || bad "manifest does not run as invoker"

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

if [ $failed -eq 0 ]; then
    echo "resources and imports of $saver as expected ($imports)"
fi
exit $failed
