#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what it holds, what it
# depends on, that its desktop entry is valid, that its postinst creates
# qvx-bridge's user, and, where systemd-analyze is installed, that systemd reads
# qvx-bridge's unit without a complaint. Exits 77 (skipped) where the packaging
# tools are not installed.
set -euo pipefail
build=$1

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate file; do
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
for file in usr/bin/qvx-control usr/bin/qvx-sim usr/bin/qvx-send usr/bin/qvx-bridge \
    usr/share/applications/qvx-control.desktop \
    usr/share/icons/hicolor/scalable/apps/qvx-control.svg \
    usr/share/icons/hicolor/16x16/apps/qvx-control.png \
    usr/share/icons/hicolor/48x48/apps/qvx-control.png \
    usr/share/icons/hicolor/256x256/apps/qvx-control.png \
    usr/share/man/man1/qvx-control.1.gz usr/share/man/man1/qvx-sim.1.gz \
    usr/share/man/man1/qvx-send.1.gz usr/share/man/man1/qvx-bridge.1.gz \
    usr/share/man/man5/qvx-venue.5.gz \
    usr/share/bash-completion/completions/qvx-send \
    usr/lib/systemd/system/qvx-bridge.service usr/lib/sysusers.d/qvx-bridge.conf; do
    grep -q " \./$file\$" <<<"$contents" || { echo "missing from the package: $file"; exit 1; }
done

depends=$(dpkg-deb --field "$deb" Depends)
# The linked libraries as dpkg-shlibdeps found them, with their versions (a
# name may carry Debian 13's t64 suffix), and the two run-time needs named by hand.
for package in libc6 'libstdc\+\+6' libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6network6; do
    grep -Eq "(^|, )${package}(t64)? \(>= [^)]+\)" <<<"$depends" \
        || { echo "not a versioned dependency: ${package//\\/} in $depends"; exit 1; }
done
for package in qt6-qpa-plugins fonts-ipafont-gothic; do
    grep -Eq "(^|, )$package(,|$)" <<<"$depends" || { echo "not a dependency: $package in $depends"; exit 1; }
done

dpkg-deb --extract "$deb" "$out/root"
desktop-file-validate "$out/root/usr/share/applications/qvx-control.desktop"
dpkg-deb --info "$deb" postinst | grep -q '^ *systemd-sysusers qvx-bridge.conf$' \
    || { echo "the postinst does not create qvx-bridge's user"; exit 1; }
# verify reads the unit as systemd would, offline; it checks that ExecStart's
# program is there, so the unit is pointed at the package's.
if command -v systemd-analyze >/dev/null; then
    sed "s|/usr/bin/qvx-bridge|$out/root/usr/bin/qvx-bridge|" \
        "$out/root/usr/lib/systemd/system/qvx-bridge.service" >"$out/qvx-bridge.service"
    complaints=$(systemd-analyze verify --man=no "$out/qvx-bridge.service" 2>&1) || true
    [ -z "$complaints" ] || { echo "systemd-analyze verify: $complaints"; exit 1; }
fi
echo "package $(basename "$deb") holds what it should"
