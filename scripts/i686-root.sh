#!/bin/bash
# The i386 Debian root in which the 32-bit build's programs run, under 32-bit
# Wine. These machines' kernels refuse 32-bit code, so while a session is up
# binfmt_misc hands every i386 program to qemu-i386 (user mode; bookworm's 7.2
# spends minutes in every Wine process, so 10.x comes from bookworm-backports).
# The root lives in a per-machine cache outside the clone, so a fresh clone
# reuses it: built once (about 10 minutes), then only mounted. Nothing i386 is
# installed on the host, and the host's own wine64 is left alone.
#
#   i686-root.sh session CMD [ARG...]
#       brings the root up (building it when missing), runs CMD on the host
#       and brings the root down again, also when CMD fails or the session
#       is interrupted: the root's processes ended, its mounts released, the
#       binfmt entry removed (and binfmt_misc unmounted when it was not
#       mounted before). One session per root at a time; a second waits.
#       Inside, the clone and /tmp are seen at their own paths, the X
#       servers of the host are reachable, and `run` works.
#   i686-root.sh run CMD [ARG...]
#       runs CMD inside the root, in the current folder when the root sees
#       it; SKELBY_I686_LD_PRELOAD becomes LD_PRELOAD there (an i386 library
#       in the host's LD_PRELOAD would only upset every host program).
#
# The cache is $SKELBY_I686_CACHE, by default ~/.cache/skelby-i686. When the
# machine cannot do it, the session fails with one line that says why.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
clone=$(cd "$here/.." && pwd)
cache=${SKELBY_I686_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/skelby-i686}
root=$cache/root
qemu=$cache/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
entry=skelby-i386
suite=bookworm
# wine32 is Wine's 32-bit half; gcc and libc6-dev build the test preloads.
packages="wine wine32 fonts-wine gcc libc6-dev"
recipe="$suite i386 minbase + $packages"
# i386 ELF executables and shared objects, as qemu's own binfmt table has them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

cannot() {
  echo "i686: cannot run the 32-bit tests: $*" >&2
  exit 2
}

run() {
  if [ ! -e "$binfmt/$entry" ] || ! mountpoint -q "$root/proc"; then
    echo "i686-root: the i386 root is not up (scripts/test-i686.sh brings it up)" >&2
    exit 2
  fi
  local dir=$PWD
  [ "$dir" -ef "$root$dir" ] || dir=/
  exec chroot "$root" /usr/bin/env -C "$dir" -u LD_LIBRARY_PATH \
    PATH=/usr/local/bin:/usr/bin:/bin LD_PRELOAD="${SKELBY_I686_LD_PRELOAD:-}" "$@"
}

# Mount points at or under $1, deepest first.
mounts_under() {
  awk -v top="$1" '$5 == top || index($5, top "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}

unmount_under() {
  local m
  for m in $(mounts_under "$1"); do
    umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null
  done
  [ -z "$(mounts_under "$1")" ]
}

# Deletes a root that may still have host folders mounted in it: never
# through a mount.
remove_tree() {
  [ -e "$1" ] || return 0
  unmount_under "$1" || return 1
  rm -rf --one-file-system "$1"
}

# Every process whose root is the i386 root (or one being built): Wine's
# server and services, and anything a test left behind.
processes_in_root() {
  local p r
  for p in /proc/[0-9]*; do
    r=$(readlink "$p/root" 2>/dev/null) || continue
    [ "$r" = "$root" ] || [ "$r" = "$cache/root.new" ] && echo "${p#/proc/}"
  done
}

end_processes() {
  local pids
  pids=$(processes_in_root)
  [ -n "$pids" ] || return 0
  kill $pids 2>/dev/null
  for _ in $(seq 50); do
    pids=$(processes_in_root)
    [ -n "$pids" ] || return 0
    sleep 0.1
  done
  kill -9 $pids 2>/dev/null
  sleep 0.2
}

# Brings everything back as it was before a session; also what a killed
# session left behind.
release() {
  end_processes
  unmount_under "$root"
  unmount_under "$cache/root.new"
  [ -e "$binfmt/$entry" ] && echo -1 >"$binfmt/$entry"
  if [ -e "$cache/binfmt-mounted" ]; then
    umount "$binfmt" 2>/dev/null
    rm -f "$cache/binfmt-mounted"
  fi
}

# The Debian mirror the host's own apt uses.
mirror() {
  local m
  m=$({
    sed -n 's|^URIs:[[:space:]]*\(https\{0,1\}://[^[:space:]]*/debian\)/\{0,1\}\([[:space:]].*\)\{0,1\}$|\1|p' \
      /etc/apt/sources.list.d/*.sources
    sed -n 's|^deb[[:space:]]\{1,\}\(\[[^]]*\][[:space:]]\{1,\}\)\{0,1\}\(https\{0,1\}://[^[:space:]]*/debian\)/\{0,1\}[[:space:]].*|\2|p' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list
  } 2>/dev/null | head -n1)
  echo "${m:-http://deb.debian.org/debian}"
}

# qemu-i386 10.x, statically linked, taken from Debian's qemu-user package
# of bookworm-backports with a private apt state: the host's apt sources and
# packages stay as they are.
fetch_qemu() {
  [ -x "$qemu" ] && return 0
  local work=$cache/qemu-download
  rm -rf "$work"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(mirror) $suite-backports main" \
    >"$work/sources.list"
  local apt=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/parts"
    -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root)
  if ! { apt-get -q "${apt[@]}" update && (cd "$work" && apt-get -q "${apt[@]}" download qemu-user); } \
    >"$cache/qemu-download.log" 2>&1; then
    cannot "qemu-user could not be downloaded from $suite-backports (see $cache/qemu-download.log)"
  fi
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$qemu.new" \
    && chmod +x "$qemu.new" || cannot "qemu-i386 could not be unpacked from the qemu-user package"
  local major
  major=$("$qemu.new" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ "${major:-0}" -ge 10 ] || cannot "qemu-i386 from $suite-backports is version ${major:-unknown}, 10 or later is needed"
  mv "$qemu.new" "$qemu"
  rm -rf "$work"
}

# F: the kernel opens qemu-i386 now, so it also serves programs in the root.
register() {
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || cannot "binfmt_misc cannot be mounted on $binfmt"
    touch "$cache/binfmt-mounted"
  fi
  [ "$(cat "$binfmt/status" 2>/dev/null)" = enabled ] || cannot "binfmt_misc is disabled on this machine"
  echo ":$entry:M::$magic:$mask:$qemu:F" >"$binfmt/register" 2>/dev/null \
    || cannot "the i386 entry cannot be registered with binfmt_misc"
}

mount_system() {  # ROOT
  {
    mount -t proc proc "$1/proc" \
      && mount --rbind /sys "$1/sys" && mount --make-rslave "$1/sys" \
      && mount --rbind /dev "$1/dev" && mount --make-rslave "$1/dev"
  } 2>/dev/null
}

install_packages() {  # ROOT LOG
  cp /etc/resolv.conf "$1/etc/resolv.conf"
  chroot "$1" /usr/bin/env DEBIAN_FRONTEND=noninteractive PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -c "
    apt-get -q update && apt-get install -y -q --no-install-recommends $packages && apt-get clean" >>"$2" 2>&1
}

# Built aside and moved into place only when complete, so an interrupted
# build is simply built again.
build_root() {
  local new=$cache/root.new log=$cache/root-build.log started=$SECONDS
  echo "i686: building the i386 root in $root (once per machine, about 10 minutes)"
  remove_tree "$new" || cannot "$new is still in use"
  remove_tree "$root" || cannot "$root is still in use"
  : >"$log"
  debootstrap --arch=i386 --variant=minbase "$suite" "$new" "$(mirror)" >>"$log" 2>&1 \
    || cannot "debootstrap could not build the i386 root (see $log)"
  mount_system "$new" || cannot "the new root's system folders cannot be mounted"
  install_packages "$new" "$log" || cannot "Wine could not be installed in the i386 root (see $log)"
  unmount_under "$new" || cannot "the new root's mounts cannot be released"
  echo "$recipe" >"$new/.skelby-root"
  mv "$new" "$root"
  echo "i686: the i386 root took $((SECONDS - started)) s to build"
}

mount_root() {
  mount_system "$root" || cannot "the root's system folders cannot be mounted"
  # The packages asked for changed since the root was built: add them.
  if [ "$(cat "$root/.skelby-root")" != "$recipe" ]; then
    install_packages "$root" "$cache/root-build.log" \
      || cannot "the i386 root could not be brought up to date (see $cache/root-build.log)"
    echo "$recipe" >"$root/.skelby-root"
  fi
  chroot "$root" /bin/true 2>/dev/null || cannot "i386 programs do not start under $qemu"
  local dir
  for dir in /tmp "$clone"; do
    [ "$dir" -ef "$root$dir" ] && continue
    mkdir -p "$root$dir" 2>/dev/null && mount --bind "$dir" "$root$dir" 2>/dev/null \
      || cannot "$dir cannot be shared with the root"
  done
}

session() {
  [ "$(id -u)" -eq 0 ] || cannot "mounting and binfmt_misc need root"
  command -v debootstrap >/dev/null || cannot "debootstrap is not installed (scripts/setup.sh installs it)"
  mkdir -p "$cache" 2>/dev/null || cannot "$cache cannot be created"
  cache=$(cd "$cache" && pwd -P)
  root=$cache/root
  qemu=$cache/qemu-i386
  exec 8>>"$cache/lock"
  if ! flock -n 8; then
    echo "i686: another run is using $cache; waiting for it"
    flock -w 3600 8 || cannot "another run has held $cache for an hour"
  fi
  trap release EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  release
  fetch_qemu
  register
  [ -f "$root/.skelby-root" ] || build_root
  mount_root
  # The session's programs do not inherit the lock: nothing a killed
  # session left running can hold it.
  "$@" 8>&-
}

cmd=${1:-}
shift || true
case $cmd in
  session) session "$@" ;;
  run) run "$@" ;;
  *)
    echo "usage: $0 session CMD [ARG...] | run CMD [ARG...]" >&2
    exit 2
    ;;
esac
