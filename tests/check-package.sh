#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks what it holds, what it
# depends on, that lintian finds no error or warning in it, that its desktop
# entry and AppStream metadata are valid, that its postinst creates qvx-bridge's
# user, and, where systemd-analyze is installed, that systemd reads qvx-bridge's
# unit without a complaint. Exits 77 (skipped) where the packaging tools are not
# installed; fails where lintian or appstreamcli is not, as ./test installs both.
set -euo pipefail
build=$1

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate file; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
for tool in lintian appstreamcli; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed: the package cannot be judged"; exit 1; }
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(find "$out" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || { echo "no package was built"; exit 1; }

contents=$(dpkg-deb --contents "$deb")
for file in usr/bin/qvx-control usr/bin/qvx-sim usr/bin/qvx-send usr/bin/qvx-bridge \
    usr/share/applications/qvx-control.desktop usr/share/metainfo/qvx-control.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/qvx-control.svg \
    usr/share/icons/hicolor/16x16/apps/qvx-control.png \
    usr/share/icons/hicolor/48x48/apps/qvx-control.png \
    usr/share/icons/hicolor/256x256/apps/qvx-control.png \
    usr/share/man/man1/qvx-control.1.gz usr/share/man/man1/qvx-sim.1.gz \
    usr/share/man/man1/qvx-send.1.gz usr/share/man/man1/qvx-bridge.1.gz \
    usr/share/man/man5/qvx-venue.5.gz \
    usr/share/bash-completion/completions/qvx-send \
    usr/lib/systemd/system/qvx-bridge.service usr/lib/sysusers.d/qvx-bridge.conf \
    usr/share/doc/qvx-control/changelog.gz usr/share/doc/qvx-control/copyright; do
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

# Overridden tags, each with its reason in the package's overrides file, do not count.
lintian --fail-on error,warning "$deb" || { echo "lintian finds errors or warnings in the package"; exit 1; }

dpkg-deb --extract "$deb" "$out/root"
desktop-file-validate "$out/root/usr/share/applications/qvx-control.desktop"
# The metadata with the desktop entry it names, as lintian has AppStream read
# them. Warnings fail too, but for two that AppStream lets a project lower: the
# id is the desktop entry's name, not a reverse domain name, as the project has
# no domain; and AppStream 1.0 asks for a homepage, which it has none of (0.16
# neither asks nor knows that tag).
overrides=cid-desktopapp-is-not-rdns=info
appstream=$(appstreamcli --version | grep -oE '[0-9]+(\.[0-9]+)+' | head -n 1)
if dpkg --compare-versions "$appstream" ge 1.0; then
    overrides+=,url-homepage-missing=info
fi
appstreamcli validate-tree --no-net --override="$overrides" "$out/root"
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
