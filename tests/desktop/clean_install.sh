#!/usr/bin/env bash
# Installs a Brisquet package the way a user would, on a clean Debian 12
# (a debootstrap'ed folder, minbase), and starts it on a private Xvfb inside:
# proves the package's Depends bring everything the program needs. Slow
# (a few minutes, downloads from deb.debian.org), so not part of the test
# suite. Needs root and debootstrap.
# Usage: tests/desktop/clean_install.sh build/_CPack_Packages/.../brisquet_7.00_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d /var/tmp/brisquet-clean-XXXXXX)
cleanup() {
    # Never remove the folder while /proc is mounted inside it: rm would walk the real /proc.
    umount "$root/proc" 2>/dev/null || umount -l "$root/proc" 2>/dev/null || true
    if mountpoint -q "$root/proc"; then
        echo "left $root in place: $root/proc is still mounted" >&2
    else
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT
debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >/dev/null
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" >/dev/null
echo "installed: $(in_root dpkg-query -W -f='${Package} ${Version}' brisquet)"
# xvfb is not Brisquet's: it only gives the started program a display.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth >/dev/null
set +e
in_root env SDL_AUDIODRIVER=dummy xvfb-run -a timeout 5 brisquet
status=$?
set -e
[ "$status" -eq 124 ] || { echo "brisquet ended with status $status within 5 s"; exit 1; }
echo "brisquet started and was still running after 5 s"
