#!/usr/bin/env bash
# Proves the README's two commands on a fresh Debian 12: a minimal root made with debootstrap (kept
# between runs as a tarball), the repository's committed state cloned into it, then the run command
# (its headless form: a whole automatic calibration) and the test command as root, with nothing
# installed by hand; then the Debian package built there, installed into a second fresh root with
# apt-get, the headless run against the installed programs, and the package removed and purged.
# Needs root (chroot and mounts).
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
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A fresh root from the cached one, with the repository's committed state cloned into it.
fresh_root() {
  local root=$1
  mkdir -p "$root"
  tar -C "$root" -xf "$pristine"
  # debootstrap made the root in a private folder; a machine's / is open to every user.
  chmod 0755 "$root"
  for m in proc sys dev dev/pts; do
    case $m in
      proc) mount -t proc proc "$root/proc" ;;
      sys) mount -t sysfs sysfs "$root/sys" ;;
      *) mount --bind "/$m" "$root/$m" ;;
    esac
    mounted+=("$root/$m")
  done
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # The working tree's changes are not taken: only what a new clone would have.
  git clone --quiet --no-local "$here" "$root/root/korvex"
}

status=0
step=0
# Runs a command in a root as root with a clean environment and prints the end of what it said.
inside() {
  local root=$1 command=$2 log
  # Numbered, and named by the command's start only: a long command would make too long a name.
  step=$((step + 1))
  log=$work/$step-$(echo "$command" | tr -c 'a-z0-9' '_' | cut -c1-60).log
  echo "== $command (fresh Debian 12 root, as root)"
  local start rc
  start=$(date +%s)
  if chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/korvex && $command" < /dev/null > "$log" 2>&1; then rc=0; else rc=$?; fi
  tail -n 15 "$log"
  echo "== $command: exit $rc after $(($(date +%s) - start)) s"
  if [ "$rc" -ne 0 ]; then
    # The whole of what it said outlives the roots, for finding out why.
    cp "$log" "/var/tmp/korvex-fresh-check-$(basename "$log")" && echo "   (all of it: /var/tmp/korvex-fresh-check-$(basename "$log"))"
  fi
  [ "$rc" -eq 0 ] || status=1
}

# The README's two commands, then the package built from the same clone.
first=$work/first
fresh_root "$first"
inside "$first" scripts/run.sh
inside "$first" scripts/test.sh
inside "$first" scripts/package.sh

# The package installed into a second fresh root, and the run's headless form against it.
deb=$(ls "$first"/root/korvex/dist/korvex-calibrator_*.deb 2> /dev/null | head -n 1 || true)
if [ -n "$deb" ]; then
  second=$work/second
  fresh_root "$second"
  cp "$deb" "$second/root/"
  inside "$second" "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /root/$(basename "$deb") && ls -ld /var/lib/korvex-calibrator && test \"\$(stat -c %a:%G /var/lib/korvex-calibrator)\" = 3775:dialout"
  inside "$second" "scripts/run.sh --installed"
  # Removing and then purging the package keep the counter and the record the run left, and the
  # purge says so.
  kept="test -f /var/lib/korvex-calibrator/Config.Ini && test -f /var/lib/korvex-calibrator/PowerTestDb.sqlite"
  inside "$second" "apt-get remove -y -qq korvex-calibrator && $kept && apt-get purge -y -qq korvex-calibrator > purge.log && cat purge.log && grep -q '/var/lib/korvex-calibrator is kept' purge.log && ! dpkg-query -W korvex-calibrator 2> /dev/null && $kept"
else
  echo "== no package was built"
  status=1
fi
exit $status
