#!/usr/bin/env bash
# Runs COMMAND as root in a fresh minimal root of Debian 12 or 13, made here
# with debootstrap from Debian's package registry, holding a clean export of
# this work tree (the files git tracks or would track, as they are now) in
# /src. For proving that the README's commands work on a machine that has
# nothing installed:
#   scripts/try-debian.sh 13 scripts/run-tests.sh
# The root is made under $VIDEZ5_ROOTS (default /var/tmp/videz5-roots) and
# removed afterwards, unless VIDEZ5_KEEP_ROOT=1. Needs root (debootstrap,
# chroot, mounts).
set -euo pipefail
case "${1:-}" in
  12) suite=bookworm ;;
  13) suite=trixie ;;
  *) echo "usage: $0 12|13 'COMMAND'" >&2; exit 2 ;;
esac
[ $# -ge 2 ] || { echo "usage: $0 12|13 'COMMAND'" >&2; exit 2; }
release=$1
shift
command="$*"
src="$(cd "$(dirname "$0")/.." && pwd)"
mirror=${VIDEZ5_MIRROR:-http://deb.debian.org/debian}

if ! command -v debootstrap >/dev/null; then
  echo "installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

roots=${VIDEZ5_ROOTS:-/var/tmp/videz5-roots}
mkdir -p "$roots"
root=$(mktemp -d "$roots/debian-$release.XXXXXX")
chmod 755 "$root"  # as a root directory is: apt's own user must reach its cache
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  if [ "${VIDEZ5_KEEP_ROOT:-0}" = 1 ]; then echo "kept $root"; else rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT

SECONDS=0
echo "making a minimal Debian $release ($suite) in $root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -20 "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
# Debian 12's updates suite, as a user's machine has it in its sources.
if [ "$suite" = bookworm ]; then
  printf 'deb %s bookworm main\ndeb %s bookworm-updates main\n' "$mirror" "$mirror" >"$root/etc/apt/sources.list"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

# What MPI, the sanitizers and valgrind need of a running system.
for m in proc sys dev dev/pts; do
  mkdir -p "$root/$m"
  mount --bind "/$m" "$root/$m"
  mounted+=("$root/$m")
done
mount -t tmpfs tmpfs "$root/dev/shm"
mounted+=("$root/dev/shm")

echo "copying a clean export of $src to /src"
mkdir -p "$root/src"
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf -) | tar -xf - -C "$root/src"

echo "running as root in /src: $command"
set +e
chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c "cd /src && $command"
status=$?
set -e
echo "Debian $release: exit $status after $((SECONDS / 60)) min $((SECONDS % 60)) s (root included)"
exit $status
