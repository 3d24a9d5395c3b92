#!/usr/bin/env bash
# check-deb.sh - the Debian package: lintian finds no error, the files land
# where they belong (unpacked into a scratch root), the control data names
# the package, version and runtime libraries and no build tool; and, where
# this runs as root, apt-get installs it, the installed glidescape-render
# prints the version, and apt-get remove takes it away again.
#
#   check-deb.sh PACKAGE.deb VERSION ARTIFACT_DIR
set -u
if [ $# -ne 3 ]; then
    echo "usage: $0 PACKAGE.deb VERSION ARTIFACT_DIR" >&2
    exit 2
fi
deb=$(realpath "$1")
version=$2
artifacts=$3
mkdir -p "$artifacts"

. "$(dirname "$0")/../report.sh"
skipped=0

work=$(mktemp -d /tmp/glidescape-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT

expect "file name" "$(basename "$deb")" "glidescape_${version}_amd64.deb"

echo "--- lintian"
lintian --tag-display-limit 0 "$deb" >"$artifacts/lintian.txt" 2>&1
errors=$(grep -c '^E: ' "$artifacts/lintian.txt")
expect "lintian errors" "$errors" 0
[ "$errors" -eq 0 ] || cat "$artifacts/lintian.txt"

echo "--- control data"
field() { dpkg-deb -f "$deb" "$1"; }
expect "Package" "$(field Package)" glidescape
expect "Version" "$(field Version)" "$version"
expect "Architecture" "$(field Architecture)" amd64
depends=$(field Depends)
echo "    Depends: $depends"
for lib in libc6 libstdc++6 libpng16-16; do
    grep -q "\b$lib\b" <<<"$depends" && ok "depends on $lib" || bad "Depends lacks $lib"
done
listing=$(dpkg-deb -c "$deb")
if grep -q 'libexec/xscreensaver/glidescape$' <<<"$listing"; then
    for lib in libx11-6 libxext6 libinih1 libwayland-client0 libxkbcommon0 libfreetype6 libfontconfig1; do
        grep -q "\b$lib\b" <<<"$depends" && ok "depends on $lib" || bad "Depends lacks $lib"
    done
fi
# Videos start the ffmpeg program: recommended, never linked.
grep -q '\bffmpeg\b' <<<"$(field Recommends)" && ok "recommends ffmpeg" || bad "Recommends lacks ffmpeg"
grep -q '\blibav' <<<"$depends" && bad "Depends names FFmpeg's libraries"
for tool in cmake ninja g++ gcc make pkg-config libpng-dev libgtest-dev; do
    grep -q "\b$tool\b" <<<"$depends" && bad "Depends names the build tool $tool"
done
ok "no build tool among the dependencies"

echo "--- files in a scratch root"
dpkg-deb -x "$deb" "$work/root"
expect_file() {
    if [ -f "$work/root$1" ]; then ok "$1"; else bad "missing $1"; fi
}
expect_file /usr/bin/glidescape-render
[ -x "$work/root/usr/bin/glidescape-render" ] && ok "glidescape-render executable" || bad "glidescape-render not executable"
expect_file /usr/share/man/man1/glidescape-render.1.gz
expect_file /usr/share/doc/glidescape/README.md
expect_file /usr/share/doc/glidescape/copyright
expect_file /usr/share/doc/glidescape/changelog.gz
if [ -e "$work/root/usr/libexec/xscreensaver/glidescape" ]; then
    expect_file /usr/libexec/xscreensaver/glidescape
    expect_file /usr/share/xscreensaver/config/glidescape.xml
    expect_file /usr/share/man/man6/glidescape.6.gz
    expect "/usr/bin/glidescape links to the saver" "$(readlink "$work/root/usr/bin/glidescape")" \
        ../libexec/xscreensaver/glidescape
    expect_file /usr/share/applications/screensavers/glidescape.desktop
    desktop_entry=$(cat "$work/root/usr/share/applications/screensavers/glidescape.desktop" 2>/dev/null)
    for line in Exec=glidescape TryExec=/usr/libexec/xscreensaver/glidescape "Categories=Screensaver;"; do
        grep -qxF "$line" <<<"$desktop_entry" && ok "glidescape.desktop: $line" ||
            bad "glidescape.desktop lacks $line"
    done
else
    bad "the Linux saver is not in /usr/libexec/xscreensaver"
fi
expect "version from the scratch root" \
    "$("$work/root/usr/bin/glidescape-render" --version)" "glidescape-render $version"
# Each man page names every option its program's usage lists.
man_names_options() {
    local program=$1 page=$2 help_option=$3 missing="" text option
    text=$(zcat "$page" | sed 's/\\-/-/g')
    for option in $("$program" "$help_option" | grep -o '^  --\?[a-z][a-z0-9-]*' | sort -u); do
        grep -q -- "$option\b" <<<"$text" || missing="$missing $option"
    done
    expect "$(basename "$page") names every option" "$missing" ""
}
man_names_options "$work/root/usr/bin/glidescape-render" \
    "$work/root/usr/share/man/man1/glidescape-render.1.gz" --help
if [ -e "$work/root/usr/libexec/xscreensaver/glidescape" ]; then
    man_names_options "$work/root/usr/libexec/xscreensaver/glidescape" \
        "$work/root/usr/share/man/man6/glidescape.6.gz" -help
fi
stray=$(cd "$work/root" && find . -type f | grep -v '^./usr/\(bin\|libexec/xscreensaver\|share/\(man\|doc/glidescape\|xscreensaver/config\|applications/screensavers\)\)/')
expect "no file elsewhere" "$stray" ""

echo "--- apt-get install and remove"
if [ "$(id -u)" -ne 0 ]; then
    skipped=1
    echo "    skip  installing needs root (this runs as $(id -un))"
elif dpkg-query -W -f='${Status}' glidescape 2>/dev/null | grep -q 'install ok installed' &&
     [ "$(dpkg-query -W -f='${Version}' glidescape)" != "$version" ]; then
    skipped=1
    echo "    skip  another version of glidescape is installed here; not touching it"
else
    export DEBIAN_FRONTEND=noninteractive
    if apt-get install -y -qq --no-install-recommends "$deb" >"$artifacts/apt-install.log" 2>&1; then
        ok "apt-get install"
        expect "installed version" "$(/usr/bin/glidescape-render --version)" "glidescape-render $version"
    else
        bad "apt-get install failed: $(tail -n 3 "$artifacts/apt-install.log")"
    fi
    if apt-get remove -y -qq glidescape >"$artifacts/apt-remove.log" 2>&1; then
        ok "apt-get remove"
    else
        bad "apt-get remove failed: $(tail -n 3 "$artifacts/apt-remove.log")"
    fi
    [ -e /usr/bin/glidescape-render ] && bad "/usr/bin/glidescape-render left" || ok "glidescape-render gone"
    dpkg-query -W -f='${Status}' glidescape 2>/dev/null | grep -q 'install ok installed' \
        && bad "still installed" || ok "package no longer installed"
fi

report_summary "$skipped"
