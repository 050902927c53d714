# Shared by the scripts that keep a Debian root in a per-machine cache for
# tests that need another Wine than the host's (i686-root.sh: 32-bit Wine
# under qemu; wine10-root.sh: Wine 10). Sourced after setting:
#   tag       the name its messages start with ("i686")
#   what      what a machine that cannot do it cannot run ("the 32-bit tests")
#   cache     the cache folder (the root is $cache/root)
#   suite     the Debian suite, arch its architecture, packages what to add
#   build_minutes   how long a build takes, for the message that starts one
# and, when the root needs more from the host than its mounts, defining
#   root_prepare    (before the root is built or mounted) and
#   root_release    (after its processes ended and its mounts were released).
# The root is built once (debootstrap --variant=minbase from the mirror the
# host's apt uses, then the packages), then only mounted for a session.
here=$(cd "$(dirname "$0")" && pwd)
clone=$(cd "$here/.." && pwd)
root=$cache/root
recipe="$suite $arch minbase + $packages"

cannot() {
  echo "$tag: cannot run $what: $*" >&2
  exit 2
}

root_prepare() { :; }
root_release() { :; }

# ROOT_PRELOAD becomes LD_PRELOAD inside; the host's own never goes in (a
# library of the host's would only upset every program of the root).
root_run() {
  if ! mountpoint -q "$root/proc"; then
    echo "$tag-root: the $tag root is not up (a session of $0 brings it up)" >&2
    exit 2
  fi
  local dir=$PWD
  [ "$dir" -ef "$root$dir" ] || dir=/
  exec chroot "$root" /usr/bin/env -C "$dir" -u LD_LIBRARY_PATH \
    PATH=/usr/local/bin:/usr/bin:/bin LD_PRELOAD="${ROOT_PRELOAD:-}" "$@"
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

# Every process whose root is this root (or one being built): Wine's server
# and services, and anything a test left behind.
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
  root_release
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
  echo "$tag: building the $arch root in $root (once per machine, about $build_minutes minutes)"
  remove_tree "$new" || cannot "$new is still in use"
  remove_tree "$root" || cannot "$root is still in use"
  : >"$log"
  debootstrap --arch="$arch" --variant=minbase "$suite" "$new" "$(mirror)" >>"$log" 2>&1 \
    || cannot "debootstrap could not build the $arch root (see $log)"
  mount_system "$new" || cannot "the new root's system folders cannot be mounted"
  install_packages "$new" "$log" || cannot "Wine could not be installed in the $arch root (see $log)"
  unmount_under "$new" || cannot "the new root's mounts cannot be released"
  echo "$recipe" >"$new/.skelby-root"
  mv "$new" "$root"
  echo "$tag: the $arch root took $((SECONDS - started)) s to build"
}

mount_root() {
  mount_system "$root" || cannot "the root's system folders cannot be mounted"
  # The packages asked for changed since the root was built: add them.
  if [ "$(cat "$root/.skelby-root")" != "$recipe" ]; then
    install_packages "$root" "$cache/root-build.log" \
      || cannot "the $arch root could not be brought up to date (see $cache/root-build.log)"
    echo "$recipe" >"$root/.skelby-root"
  fi
  chroot "$root" /bin/true 2>/dev/null || cannot "$arch programs do not start in $root"
  local dir
  for dir in /tmp "$clone"; do
    [ "$dir" -ef "$root$dir" ] && continue
    mkdir -p "$root$dir" 2>/dev/null && mount --bind "$dir" "$root$dir" 2>/dev/null \
      || cannot "$dir cannot be shared with the root"
  done
}

# Up (built when missing), CMD run on the host, down again, also when CMD
# fails or the session is interrupted. One session per root at a time; a
# second waits.
root_session() {
  [ "$(id -u)" -eq 0 ] || cannot "mounting a root needs root"
  command -v debootstrap >/dev/null || cannot "debootstrap is not installed (scripts/setup.sh installs it)"
  mkdir -p "$cache" 2>/dev/null || cannot "$cache cannot be created"
  cache=$(cd "$cache" && pwd -P)
  root=$cache/root
  exec 8>>"$cache/lock"
  if ! flock -n 8; then
    echo "$tag: another run is using $cache; waiting for it"
    flock -w 3600 8 || cannot "another run has held $cache for an hour"
  fi
  trap release EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  release
  root_prepare
  [ -f "$root/.skelby-root" ] || build_root
  mount_root
  # The session's programs do not inherit the lock: nothing a killed
  # session left running can hold it.
  "$@" 8>&-
}
