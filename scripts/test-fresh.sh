#!/usr/bin/env bash
# Runs the README's `make test` on a clean checkout of HEAD inside a minimal Debian 12 root made for this
# run, with nothing but make and git installed: whatever bootstrap.sh forgets to install fails here
# rather than on a newcomer's machine. Needs root (or sudo) for mmdebstrap, the mounts and chroot.
# The root is made under $TMPDIR (default /var/tmp) and removed afterwards, also when the tests fail.
set -euo pipefail

usage() {
  cat <<'USAGE'
usage: scripts/test-fresh.sh
runs `make test` on a clean checkout of HEAD in a minimal Debian 12 root (mmdebstrap, chroot) made with
the host's package sources under $TMPDIR (default /var/tmp), and removes the root afterwards;
uncommitted changes are not part of the run; needs root or sudo
USAGE
}
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  "") ;;
  *) usage >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  exec sudo ${TMPDIR:+TMPDIR="$TMPDIR"} "$0" "$@"
fi
command -v mmdebstrap >/dev/null || { echo "test-fresh: mmdebstrap is missing (apt-get install mmdebstrap)" >&2; exit 1; }

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Run as root over someone else's checkout, git would refuse to read it.
git_src() { git -c safe.directory='*' -C "$here" "$@"; }
commit=$(git_src rev-parse HEAD)
if [ -n "$(git_src status --porcelain --untracked-files=no)" ]; then
  echo "test-fresh: note: uncommitted changes are not part of this run, it tests $commit"
fi

parent=${TMPDIR:-/var/tmp}
mkdir -p "$parent"
root=$(mktemp -d "$(cd "$parent" && pwd -P)/zt-fresh.XXXXXX")
chmod 755 "$root" # apt downloads as _apt, which must reach the root's lists
case "$root/" in
  "$here"/*) echo "test-fresh: the root must lie outside the checkout ($root)" >&2; rmdir "$root"; exit 1 ;;
esac
src=/src/zt5100
mounted=()

# Every process whose root is ours was started by this run; a leftover one keeps a mount busy.
stop_processes() {
  local signal=$1 pid found=1
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$root" ] || continue
    kill "-$signal" "${pid#/proc/}" 2>/dev/null || true
    found=0
  done
  return $found
}

mounts_left() { awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo; }

cleanup() {
  local status=$? i
  trap - EXIT INT TERM
  if stop_processes TERM; then
    sleep 2
    stop_processes KILL || true
  fi
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
      echo "test-fresh: cannot unmount ${mounted[i]}" >&2
  done
  # Never delete through a mount that is still there: /dev is the host's own.
  if [ -n "$(mounts_left)" ]; then
    echo "test-fresh: still mounted, so $root is left in place:" >&2
    mounts_left >&2
    exit 1
  fi
  rm -rf --one-file-system "$root"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in() { # <mount arguments...> <path inside the root>
  local target=$root${*: -1}
  mkdir -p "$target"
  mount "${@:1:$#-1}" "$target"
  mounted+=("$target")
  # Where / is shared, a bind of /dev would otherwise carry the tmpfs on its shm back to the host's.
  mount --make-private "$target"
}

# The host's package sources, as apt reads them: sources.list and the .list and .sources files beside it.
# Since the host installs i386 packages from them, they cover i386 too.
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -gt 0 ] || echo "test-fresh: the host has no package sources, mmdebstrap picks its own"

elapsed() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }
started=$SECONDS

echo "== test-fresh: a minimal Debian 12 root in $root =="
mmdebstrap --mode=root --variant=apt --include=make,git bookworm "$root" "${sources[@]}"
# A key a third-party source names by path comes along with it.
for key in $(sed -nE 's/^[[:space:]]*Signed-By:[[:space:]]*(\/[^[:space:]]+).*/\1/ip; s/.*signed-by=(\/[^] ,]+).*/\1/ip' \
  "${sources[@]}" /dev/null); do
  if [ -f "$key" ] && [ ! -e "$root$key" ]; then
    mkdir -p "$(dirname "$root$key")"
    cp "$key" "$root$key"
  fi
done
# Services that packages start on installation would outlive the run and keep its mounts busy.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp -L /etc/hosts "$root/etc/hosts"

mkdir -p "$root$(dirname "$src")"
git_src clone -q --no-local --no-checkout "$here" "$root$src"
git -c safe.directory='*' -C "$root$src" checkout -q --detach "$commit"
root_time=$((SECONDS - started))
echo "== test-fresh: root and checkout of $commit ready in $(elapsed $root_time) =="

mount_in -t proc proc /proc
mount_in -t sysfs sysfs /sys
mount_in --bind /dev /dev
mount_in --bind /dev/pts /dev/pts
mount_in -t tmpfs -o mode=1777,nosuid,nodev tmpfs /dev/shm
mount_in -t tmpfs -o mode=1777,nosuid,nodev tmpfs /tmp

tests_started=$SECONDS
status=0
# Waited for rather than run in the foreground, so that a TERM to this script cleans up at once.
chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 TERM="${TERM:-dumb}" /bin/sh -c "cd $src && make test" </dev/null &
wait $! || status=$?
tests_time=$((SECONDS - tests_started))

echo
echo "== test-fresh: $([ $status -eq 0 ] && echo passed || echo "FAILED (make test exit code $status)") =="
echo "  root and checkout:             $(elapsed $root_time)"
echo "  packages, build and tests:     $(elapsed $tests_time)"
echo "  total:                         $(elapsed $((SECONDS - started)))"
exit $status
