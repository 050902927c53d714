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
tag=i686
what="the 32-bit tests"
cache=${SKELBY_I686_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/skelby-i686}
suite=bookworm
arch=i386
build_minutes=10
# wine32 is Wine's 32-bit half; gcc and libc6-dev build the test preloads.
packages="wine wine32 fonts-wine gcc libc6-dev"
. "$(dirname "$0")/root-lib.sh"
binfmt=/proc/sys/fs/binfmt_misc
entry=skelby-i386
# i386 ELF executables and shared objects, as qemu's own binfmt table has them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

run() {
  if [ ! -e "$binfmt/$entry" ]; then
    echo "i686-root: the i386 root is not up (scripts/test-i686.sh brings it up)" >&2
    exit 2
  fi
  ROOT_PRELOAD=${SKELBY_I686_LD_PRELOAD:-} root_run "$@"
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

root_prepare() {
  qemu=$cache/qemu-i386
  fetch_qemu
  register
}

# The binfmt entry removed, and binfmt_misc unmounted when it was not
# mounted before.
root_release() {
  [ -e "$binfmt/$entry" ] && echo -1 >"$binfmt/$entry"
  if [ -e "$cache/binfmt-mounted" ]; then
    umount "$binfmt" 2>/dev/null
    rm -f "$cache/binfmt-mounted"
  fi
}

cmd=${1:-}
shift || true
case $cmd in
  session) root_session "$@" ;;
  run) run "$@" ;;
  *)
    echo "usage: $0 session CMD [ARG...] | run CMD [ARG...]" >&2
    exit 2
    ;;
esac
