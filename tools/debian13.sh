#!/usr/bin/env bash
# Runs ./test of a clean clone of this checkout inside a Debian 13 ("trixie")
# root, so that Qt 6.8 is tested beside the host's Debian 12 and Qt 6.4. Exits
# with that run's status.
#
#   tools/debian13.sh            # as root
#
# The root is made once with debootstrap from the archive apt already uses and
# kept in QVX_DEBIAN13_ROOT (default /var/cache/qvx-control/debian13), outside
# the clone; later runs bring it up to date with apt-get and reuse it, with the
# packages ./test installed there. /dev, /dev/pts, /proc and /sys are bound into
# it for the run and unmounted on every exit, also after a failure or Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${QVX_DEBIAN13_ROOT:-/var/cache/qvx-control/debian13}
suite=trixie
checkout=$PWD

fail() {
    echo "debian13: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root for debootstrap, chroot and mount; run it with sudo"

# The Debian archive of apt's own sources, one-line or deb822 form.
archive_of() {
    local uri
    uri=$(grep -rhoE '^(deb[[:space:]]+(\[[^]]*\][[:space:]]+)?|URIs:[[:space:]]+)[a-z]+://[^[:space:]]+/debian/?([[:space:]]|$)' \
        /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null |
        grep -oE '[a-z]+://[^[:space:]]+' | head -n 1 || true)
    echo "${uri:-http://deb.debian.org/debian}"
}
archive=$(archive_of)
archive=${archive%/}
security=${archive%/debian}/debian-security

if ! command -v debootstrap >/dev/null; then
    echo "debian13: installing debootstrap"
    apt-get update -qq || fail "apt-get update failed, so debootstrap cannot be installed"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap ||
        fail "debootstrap could not be installed"
fi

mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
if ! flock -n 9; then
    echo "debian13: waiting for another run to release $root.lock"
    flock -w 3600 9 || fail "another run held $root.lock for an hour"
fi

# Every process whose root is the Debian 13 root: what a run left behind would
# keep the mounts busy.
stop_processes_in_root() {
    local process real
    real=$(readlink -f "$root")
    for process in /proc/[0-9]*; do
        [ "$(readlink "$process/root" 2>/dev/null)" = "$real" ] && kill -KILL "${process#/proc/}" 2>/dev/null
    done
    return 0
}

# Every path mounted so far, unmounted in reverse order on any exit.
mounted=()
clone=
cleanup() {
    local status=$? i
    stop_processes_in_root
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
            echo "debian13: could not unmount ${mounted[i]}" >&2
    done
    [ -n "$clone" ] && rm -rf "$clone"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ ! -e "$root/.qvx-complete" ]; then
    echo "debian13: making the root in $root from $archive"
    rm -rf "$root.new"
    debootstrap --variant=minbase "$suite" "$root.new" "$archive" >"$root.debootstrap.log" 2>&1 ||
        fail "debootstrap failed (log: $root.debootstrap.log): $(tail -n 3 "$root.debootstrap.log")"
    rm -rf "$root"
    mv "$root.new" "$root"
    touch "$root/.qvx-complete"
fi

cat >"$root/etc/apt/sources.list" <<EOF
deb $archive $suite main
deb $archive $suite-updates main
deb $security $suite-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
# The authorities this machine trusts, for the root's npm: behind a proxy that
# inspects TLS, the root's own list lacks the proxy's.
host_ca=/etc/ssl/host-ca-certificates.crt
cp /etc/ssl/certs/ca-certificates.crt "$root$host_ca" 2>/dev/null || rm -f "$root$host_ca"

bind() {
    mount --bind "$1" "$root$1" || fail "could not bind $1 into $root"
    mounted+=("$root$1")
}
for path in /dev /dev/pts /proc /sys; do
    mkdir -p "$root$path"
    bind "$path"
done

host_ca_env=
[ -e "$root$host_ca" ] && host_ca_env=NODE_EXTRA_CA_CERTS=$host_ca

# Runs a command in the root and waits for it in the background, so that a
# signal sent to this script alone (not to its process group, as Ctrl+C does)
# is acted on at once instead of after the command.
in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
        ${host_ca_env:+"$host_ca_env"} PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@" &
    wait $!
}

echo "debian13: bringing the root up to date"
# A run stopped inside dpkg leaves packages half set up.
in_root env DEBIAN_FRONTEND=noninteractive dpkg --configure -a || fail "dpkg could not finish setting up the root's packages"
in_root apt-get update -qq || fail "apt-get update failed inside the root"
in_root env DEBIAN_FRONTEND=noninteractive apt-get dist-upgrade -y -qq >/dev/null ||
    fail "apt-get dist-upgrade failed inside the root"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null ||
    fail "git could not be installed inside the root"

clone=$(mktemp -d "$root/tmp/qvx-check.XXXXXX")
git clone -q "$checkout" "$clone/qvx-control" || fail "could not clone $checkout"
inside=${clone#"$root"}/qvx-control

echo "debian13: ./test in a clean clone on $(in_root cat /etc/debian_version)"
status=0
in_root bash -c "cd '$inside' && ./test" || status=$?
echo "debian13: ./test exited with $status"
exit "$status"
