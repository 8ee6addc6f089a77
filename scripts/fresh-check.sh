#!/usr/bin/env bash
# The README's quick start on a fresh machine: a minimal Debian 12 root
# (debootstrap --variant=minbase, plus git), a clone of this checkout's
# committed HEAD in it, and the README's two commands run there as root in a
# chroot. Reports each command's exit status and time; fails when one fails.
#
#   scripts/fresh-check.sh                   both commands
#   scripts/fresh-check.sh --demo-only       only scripts/demo.sh
#   scripts/fresh-check.sh --with-compiler   a developer's machine: the root
#                                            also has build-essential and cmake
#
# The base root is cached as a tarball outside the clone,
# $TOVACREX_FRESH_CACHE (default /var/cache/tovacrex-fresh). Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."

demo_only=0 with_compiler=0
for a in "$@"; do
  case "$a" in
    --demo-only) demo_only=1 ;;
    --with-compiler) with_compiler=1 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "fresh-check.sh: unknown argument $a" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "fresh-check.sh: needs root (debootstrap, chroot, mounts)" >&2; exit 2; }

checkout=$(pwd)
cache=${TOVACREX_FRESH_CACHE:-/var/cache/tovacrex-fresh}
tarball=$cache/bookworm-minbase.tar
case "$tarball" in "$checkout"/*) echo "fresh-check.sh: the cache must lie outside the clone" >&2; exit 2 ;; esac

# The mirror this machine's own apt uses: a fresh machine here reaches no other.
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) bookworm .*/\2/p' \
           /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | grep -v security | head -n1 || true)
[ -n "$mirror" ] || { echo "fresh-check.sh: no Debian mirror found in this machine's apt sources" >&2; exit 2; }

if [ ! -s "$tarball" ]; then
  command -v debootstrap >/dev/null ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null; }
  mkdir -p "$cache"
  base=$(mktemp -d /var/tmp/tovacrex-base.XXXXXX)
  echo "fresh-check: making a minimal Debian 12 root from $mirror"
  if ! debootstrap --variant=minbase bookworm "$base" "$mirror" >"$base.log" 2>&1; then
    tail -n 20 "$base.log" >&2; rm -rf "$base" "$base.log"; exit 1
  fi
  tar -C "$base" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
  rm -rf "$base" "$base.log"
fi

root=$(mktemp -d /var/tmp/tovacrex-fresh.XXXXXX)
mounted=()
cleanup() {
  local m i
  for (( i=${#mounted[@]}-1; i>=0; i-- )); do
    m=${mounted[$i]}
    umount -R "$m" 2>/dev/null || umount -R -l "$m" 2>/dev/null || true
  done
  # Never remove a root that still has something mounted in it.
  if ! grep -q " $root/" /proc/self/mounts; then rm -rf "$root"; else echo "fresh-check: left $root (still mounted)" >&2; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

tar -C "$root" -xf "$tarball"
chmod 755 "$root"  # the new system's "/", which every user must be able to pass
# The host's apt sources and settings and its resolver, as any machine here has.
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp -r /etc/apt/sources.list.d/. "$root/etc/apt/sources.list.d/" 2>/dev/null || true
[ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$root/etc/apt/sources.list"
for f in /etc/apt/apt.conf.d/99*; do [ -f "$f" ] && cp "$f" "$root/etc/apt/apt.conf.d/"; done
ls "$root"/etc/apt/sources.list.d/*.sources >/dev/null 2>&1 && rm -f "$root/etc/apt/sources.list"

mount -t proc proc "$root/proc"; mounted+=("$root/proc")
mount --rbind /sys "$root/sys"; mount --make-rslave "$root/sys"; mounted+=("$root/sys")
mount --rbind /dev "$root/dev"; mount --make-rslave "$root/dev"; mounted+=("$root/dev")

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$1"
}

extra=git
[ $with_compiler -eq 1 ] && extra+=" build-essential cmake"
echo "fresh-check: adding $extra"
in_root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $extra >/dev/null"

mkdir -p "$root/mnt/checkout"
mount --bind -o ro "$checkout" "$root/mnt/checkout"; mounted+=("$root/mnt/checkout")
in_root "git clone -q /mnt/checkout /src/tovacrex"
umount "$root/mnt/checkout"
echo "fresh-check: cloned $(git rev-parse --short HEAD) (committed work only)"

commands=(scripts/demo.sh)
[ $demo_only -eq 0 ] && commands+=(scripts/test.sh)
report=() failed=0
for c in "${commands[@]}"; do
  echo "=== fresh-check: $c"
  t0=$(date +%s)
  set +e
  in_root "cd /src/tovacrex && $c"
  rc=$?
  set -e
  report+=("$c: exit $rc, $(( $(date +%s) - t0 )) s")
  [ $rc -eq 0 ] || failed=1
done

echo "=== fresh-check summary (minimal Debian 12$([ $with_compiler -eq 1 ] && echo ' with build-essential and cmake'))"
printf '  %s\n' "${report[@]}"
exit $failed
