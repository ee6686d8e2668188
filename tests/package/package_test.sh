#!/bin/bash
# The Debian package of this build folder ($1), as a user's package manager takes it: lintian
# finds no error, the metadata validates, it holds what it must and nothing of the build, its
# Depends install on this system, and the program in it answers --version and --help.
set -euo pipefail
build=$1 source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: FAIL: $*" >&2 && exit 1; }
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" || { cat "$work/cpack.log" && fail "cpack"; }
deb=$(echo "$work"/quillet_*_amd64.deb)
[[ -f $deb ]] || fail "no quillet_<version>_amd64.deb"
lintian --allow-root "$deb" | tee "$work/lintian" && ! grep -q '^E:' "$work/lintian" || fail "lintian errors"
dpkg-deb -x "$deb" "$work/root"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml || fail "AppStream metadata"
desktop-file-validate "$work/root/usr/share/applications/quillet.desktop" || fail "desktop entry"
expected="./usr/bin/quillet ./usr/share/applications/quillet.desktop ./usr/share/doc/quillet/changelog.gz
./usr/share/doc/quillet/copyright ./usr/share/icons/hicolor/128x128/apps/quillet.png
./usr/share/icons/hicolor/48x48/apps/quillet.png ./usr/share/man/man1/quillet.1.gz
./usr/share/metainfo/example.brindlewood.Quillet.metainfo.xml"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ')
[[ $files == "$(tr ' \n' '\n\n' <<<"$expected" | sed '/^$/d' | sort | tr '\n' ' ')" ]] || fail "files: $files"
apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" && fail "Depends not satisfiable"; }
version=$(sed -n 's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
# No display, no sound server: the answers need neither.
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/quillet" --version) == "Quillet $version" ]] || fail "--version"
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/quillet" --help) || fail "--help status"
for word in Usage QUILLET_AUDIO QUILLET_MIDI QUILLET_SOUNDFONT http://www.brindlewood.example; do
    [[ $help == *"$word"* ]] || fail "--help does not mention $word"
done
warnings=$(MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man1/quillet.1.gz" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man -l: $warnings"
echo "package_test: $(basename "$deb") passes; Depends: $(dpkg-deb -f "$deb" Depends)"
