#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what it holds, what it
# depends on, and that its desktop entry is valid. Exits 77 (skipped) where the
# packaging tools are not installed.
set -euo pipefail
build=$1

for tool in cpack dpkg-deb desktop-file-validate; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(find "$out" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || { echo "no package was built"; exit 1; }

contents=$(dpkg-deb --contents "$deb")
for file in usr/bin/qvx-control usr/bin/qvx-sim \
    usr/share/applications/qvx-control.desktop \
    usr/share/icons/hicolor/scalable/apps/qvx-control.svg \
    usr/share/icons/hicolor/16x16/apps/qvx-control.png \
    usr/share/icons/hicolor/48x48/apps/qvx-control.png \
    usr/share/icons/hicolor/256x256/apps/qvx-control.png \
    usr/share/man/man1/qvx-control.1.gz usr/share/man/man1/qvx-sim.1.gz; do
    grep -q " \./$file\$" <<<"$contents" || { echo "missing from the package: $file"; exit 1; }
done

depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libqt6serialport6 libqt6network6 qt6-qpa-plugins fonts-ipafont-gothic; do
    grep -q "$package" <<<"$depends" || { echo "not a dependency: $package"; exit 1; }
done

dpkg-deb --extract "$deb" "$out/root"
desktop-file-validate "$out/root/usr/share/applications/qvx-control.desktop"
echo "package $(basename "$deb") holds what it should"
