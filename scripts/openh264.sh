#!/bin/bash
# OpenH264 for our QuickTime.qts: Debian's openh264 source, cross-built with
# mingw-w64 into the two DLLs the library loads from beside itself, under the
# names of the codec's official Windows builds. Done once per machine and kept
# in ~/.cache/skelby-openh264/<version>; quick and silent after that.
#
# The source comes by package name through apt, from a source list of our
# own: the machine's apt configuration is left as it was.
set -euo pipefail

version=2.3.1
cache="${SKELBY_OPENH264_CACHE:-$HOME/.cache/skelby-openh264}"
out="$cache/$version"
done_mark="$out/.built"
[ -f "$done_mark" ] && exit 0

for tool in apt-get dpkg-source nasm x86_64-w64-mingw32-g++ i686-w64-mingw32-g++ make; do
  command -v "$tool" >/dev/null || { echo "openh264: $tool is missing (make setup installs it)" >&2; exit 1; }
done

apt_dir="$cache/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/src"
# The suites of the machine's own release, source only.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
cat >"$apt_dir/sources.list" <<LIST
deb-src http://deb.debian.org/debian $codename main
deb-src http://deb.debian.org/debian $codename-updates main
deb-src http://deb.debian.org/debian-security $codename-security main
LIST
apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
  # Root fetches into a folder of its own; apt's _apt user need not read it.
  -o APT::Sandbox::User=root -q
)

echo "openh264: fetching Debian's openh264 source"
src_root="$apt_dir/src"
rm -rf "$src_root"/openh264*
apt-get "${apt_options[@]}" update >/dev/null
(cd "$src_root" && apt-get "${apt_options[@]}" source --download-only openh264 >/dev/null)
dsc=$(ls "$src_root"/openh264_"$version"*.dsc | head -n 1)
[ -f "$dsc" ] || { echo "openh264: Debian has no openh264 $version source" >&2; exit 1; }
dpkg-source --no-check -x "$dsc" "$src_root/openh264" >/dev/null

mkdir -p "$out/include/wels" "$out/win32" "$out/win64"
cp "$src_root"/openh264/codec/api/wels/codec_*.h "$out/include/wels/"

# One build per target, each in a copy of the tree (the Makefile builds in
# place). libgcc, libstdc++ and winpthread go inside the DLL, so it stands
# alone like the official one.
build() {
  local arch=$1 triple=$2 bits=$3
  local tree="$src_root/build-$arch"
  rm -rf "$tree"
  cp -a "$src_root/openh264" "$tree"
  echo "openh264: building openh264-$version-win$bits.dll"
  make -C "$tree" -j"$(nproc)" OS=mingw_nt ARCH="$arch" \
    CC="$triple-gcc" CXX="$triple-g++" AR="$triple-ar" \
    LDFLAGS="-static -static-libgcc -static-libstdc++" libopenh264.dll >"$tree.log" 2>&1 ||
    { tail -n 30 "$tree.log" >&2; echo "openh264: the win$bits build failed ($tree.log)" >&2; exit 1; }
  "$triple-strip" -o "$out/win$bits/openh264-$version-win$bits.dll" "$tree/libopenh264.dll"
  rm -rf "$tree"
}
build x86_64 x86_64-w64-mingw32 64
build i386 i686-w64-mingw32 32

# A DLL that still needs a runtime DLL of the compiler would not load on a
# user's machine.
for dll in "$out"/win*/openh264-*.dll; do
  if x86_64-w64-mingw32-objdump -p "$dll" | grep -iE 'DLL Name: (libgcc|libstdc|libwinpthread)'; then
    echo "openh264: $dll needs a compiler runtime DLL" >&2
    exit 1
  fi
done
touch "$done_mark"
echo "openh264: done in $out"
