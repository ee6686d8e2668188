#!/usr/bin/env bash
# Installs a build into a temporary root and checks what a desktop needs to list Quillet in
# its application menu: the executable, the desktop entry and the icons, and nothing else.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR="$dest" cmake --install "$build" --prefix /usr/local >/dev/null
root="$dest/usr/local"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

expected="bin/quillet
share/applications/quillet.desktop
share/icons/hicolor/128x128/apps/quillet.png
share/icons/hicolor/48x48/apps/quillet.png"
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "installed files differ:
$actual"

[ -x "$root/bin/quillet" ] || fail "bin/quillet is not executable"

desktop="$root/share/applications/quillet.desktop"
for line in "[Desktop Entry]" "Type=Application" "Name=Quillet" "Exec=quillet" "Icon=quillet" \
    "Categories=AudioVideo;Audio;Midi;" "Terminal=false"; do
    grep -qxF "$line" "$desktop" || fail "quillet.desktop lacks: $line"
done
grep -q '^Comment=.' "$desktop" || fail "quillet.desktop has no Comment"
# Quillet opens no files: it must not turn up in "Open With".
if grep -q '^MimeType=' "$desktop"; then fail "quillet.desktop names a MIME type"; fi
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects quillet.desktop"
else
    echo "desktop-file-validate not found (desktop-file-utils): skipped its check"
fi

# PNG width and height are the big-endian words at bytes 16 and 20.
png_size() {
    local b
    read -r -a b <<<"$(od -An -tu1 -j16 -N8 "$1")"
    echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}
for size in 128 48; do
    icon="$root/share/icons/hicolor/${size}x${size}/apps/quillet.png"
    [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
        fail "$icon is not a PNG"
    [ "$(png_size "$icon")" = "${size}x${size}" ] || fail "$icon is $(png_size "$icon")"
done
echo "install layout ok"
