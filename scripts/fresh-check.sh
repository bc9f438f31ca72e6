#!/usr/bin/env bash
# Proves the README's two commands on a fresh Debian 12: a minimal root made with debootstrap (kept
# between runs as a tarball), the repository's committed state cloned into it, then the run command
# and the test command as root, with nothing installed by hand. Needs root (chroot and mounts).
# Usage: scripts/fresh-check.sh        KORVEX_FRESH_CACHE=<dir> moves the cached root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${KORVEX_FRESH_CACHE:-/var/cache/korvex-fresh-check}
mirror=${KORVEX_FRESH_MIRROR:-http://deb.debian.org/debian}
pristine=$cache/bookworm-minbase.tar

if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-check: must run as root (debootstrap, chroot and mounts)." >&2
  exit 2
fi
if ! command -v debootstrap > /dev/null; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap
fi

mkdir -p "$cache"
if [ ! -f "$pristine" ]; then
  echo "== Making a fresh Debian 12 root (debootstrap, minbase)"
  tmp=$(mktemp -d "$cache/make.XXXXXX")
  debootstrap --variant=minbase --include=git,ca-certificates bookworm "$tmp" "$mirror" > "$cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap.log" >&2; rm -rf "$tmp"; exit 1; }
  tar -C "$tmp" -cf "$pristine.part" .
  mv "$pristine.part" "$pristine"
  rm -rf "$tmp"
fi

work=$(mktemp -d /var/tmp/korvex-fresh.XXXXXX)
root=$work/root
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$root"
tar -C "$root" -xf "$pristine"
for m in proc sys dev dev/pts; do
  case $m in
    proc) mount -t proc proc "$root/proc" ;;
    sys) mount -t sysfs sysfs "$root/sys" ;;
    *) mount --bind "/$m" "$root/$m" ;;
  esac
  mounted+=("$root/$m")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The committed state, as a new clone would have it; the working tree's changes are not taken.
git clone --quiet --no-local "$here" "$root/root/korvex"

inside() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/korvex && $1" < /dev/null
}

status=0
for command in scripts/run.sh scripts/test.sh; do
  log=$work/$(basename "$command" .sh).log
  echo "== $command (fresh Debian 12 root, as root)"
  start=$(date +%s)
  if inside "$command" > "$log" 2>&1; then rc=0; else rc=$?; fi
  tail -n 15 "$log"
  echo "== $command: exit $rc after $(($(date +%s) - start)) s"
  [ "$rc" -eq 0 ] || status=1
done
exit $status
