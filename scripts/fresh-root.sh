#!/bin/sh
# Tries the project as a newcomer would, on a machine where nothing was installed before: builds
# a minimal Debian root with debootstrap from this machine's Debian mirror, copies a clean clone
# of the committed tree into it, and runs inside it either
#   readme  the README's two commands as written, with nothing installed before: the first
#           (install, build and render), then from a clean tree the second (install, build
#           and test)
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
  # The second command starts from a clean tree, so that it proves its own build; its
  # packages are the first's and more.
  script='cd /work/wavcreate
          render=$(sh scripts/readme-block.sh 1 | sed -n 1p)
          test=$(sh scripts/readme-block.sh 1 | sed -n 2p)
          echo "+ $render"; bash -euo pipefail -c "$render" </dev/null
          test -s hello.wav
          rm -rf build hello.wav
          echo "+ $test"; bash -euo pipefail -c "$test" </dev/null'
else
  script='cd /work/wavcreate && CI=true bash .ci/run'
fi
status=0
chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb DEBIAN_FRONTEND=noninteractive \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -euo pipefail -c "$script" </dev/null || status=$?
echo "fresh-root: $mode finished with status $status after $(($(date +%s) - started)) s"
exit "$status"
