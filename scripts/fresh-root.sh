#!/bin/sh
# Tries the project as a newcomer would, on a machine where nothing was installed before: builds
# a minimal Debian root with debootstrap from this machine's Debian mirror, copies a clean clone
# of the committed tree into it, and runs inside it either
#   readme  the README's first command with nothing but CMake, make and g++ installed; then
#           the README's install line and its two commands (build and render, build and test)
#   ci      CI=true bash .ci/run
# The root is removed afterwards unless KEEP_ROOT=1.
# usage: fresh-root.sh [readme|ci] [ROOT_FOLDER]
# Needs: root, debootstrap, git, and the network to the Debian mirror.
set -eu
mode=${1:-readme}
case $mode in
readme | ci) ;;
*) echo "usage: fresh-root.sh [readme|ci] [ROOT_FOLDER]" >&2; exit 2 ;;
esac
source=$(cd "$(dirname "$0")/.." && pwd)
root=${2:-$(mktemp -d /var/tmp/wavcreate-root.XXXXXX)}

# The first Debian archive this machine's apt is set up with, in either source format.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\).*/\2/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
  grep -v security | head -n 1)
mirror=${mirror:-http://deb.debian.org/debian}
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")

cleanup() {
  for mount in "$root/dev" "$root/proc"; do
    if mountpoint -q "$mount"; then umount -R "$mount"; fi
  done
  if [ "${KEEP_ROOT:-0}" != 1 ]; then
    # Never follow a mount that is somehow still there back into the host.
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT

started=$(date +%s)
echo "fresh-root: debootstrap --variant=minbase $suite from $mirror into $root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -n 20 "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
# The same archives as this machine (updates and security too), and its name server.
cp /etc/resolv.conf "$root/etc/resolv.conf"
if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
  cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/"
  rm -f "$root/etc/apt/sources.list"
fi
git clone --quiet --no-hardlinks "$source" "$root/work/wavcreate"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
echo "fresh-root: root ready after $(($(date +%s) - started)) s"

if [ "$mode" = readme ]; then
  script='cd /work/wavcreate
          render=$(sh scripts/readme-block.sh 2 | head -n 1)
          echo "+ (compiler and CMake alone) $render"
          apt-get update -q && apt-get install -y -q cmake make g++ >/dev/null
          bash -euo pipefail -c "$render" </dev/null
          rm -rf build hello.wav
          install=$(sh scripts/readme-block.sh 1)
          echo "+ $install"; bash -euo pipefail -c "$install"
          sh scripts/readme-block.sh 2 | while IFS= read -r command; do
            echo "+ $command"; bash -euo pipefail -c "$command" </dev/null
          done'
else
  script='cd /work/wavcreate && CI=true bash .ci/run'
fi
status=0
chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -euo pipefail -c "$script" </dev/null || status=$?
echo "fresh-root: $mode finished with status $status after $(($(date +%s) - started)) s"
exit "$status"
