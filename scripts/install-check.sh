#!/usr/bin/env bash
# Installs the built program into a temporary folder and checks what a
# freedesktop desktop reads of it: the .desktop file, the AppStream metadata,
# the icons; then builds the Debian package and lists it.
#   scripts/install-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

fail() { echo "install-check: $*" >&2; exit 1; }

cmake --build "$build" --target corvane corvanectl corvane_icons corvane_imagecodec
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root=$stage/usr

for f in bin/corvane bin/corvanectl lib/corvane/libcorvane_imagecodec.so \
         share/applications/org.corvane.Corvane.desktop \
         share/metainfo/org.corvane.Corvane.metainfo.xml \
         share/icons/hicolor/scalable/apps/org.corvane.Corvane.svg; do
  [ -e "$root/$f" ] || fail "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$root/share/icons/hicolor/${size}x${size}/apps/org.corvane.Corvane.png
  [ -s "$png" ] || fail "no ${size}px icon"
  identify -format '%wx%h' "$png" | grep -qx "${size}x${size}" || fail "the ${size}px icon has the wrong size"
done

desktop-file-validate "$root/share/applications/org.corvane.Corvane.desktop" || fail "the .desktop file is not valid"
grep -q '^MimeType=.*x-scheme-handler/feed;' "$root/share/applications/org.corvane.Corvane.desktop" \
  || fail "the .desktop file does not claim feed: links"
appstreamcli validate --no-net "$root/share/metainfo/org.corvane.Corvane.metainfo.xml" || fail "the metadata is not valid"

(cd "$build" && cpack -G DEB >/dev/null 2>&1) || fail "cpack could not build the package"
deb=$(ls -t "$build"/corvane_*.deb | head -1)
contents=$(dpkg-deb --contents "$deb")
grep -q 'usr/share/applications/org.corvane.Corvane.desktop' <<<"$contents" || fail "the package lacks the .desktop file"
depends=$(dpkg-deb --field "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "the package does not depend on Qt: $depends"
echo "install-check: installed files valid; package $(basename "$deb") ($(du -h "$deb" | cut -f1))"
