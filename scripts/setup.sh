#!/bin/bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Quick and silent when everything is already there.
set -euo pipefail

packages=(
  make cmake g++ mingw-w64 googletest
  wine wine64 fonts-wine xvfb xdotool x11-utils imagemagick
  chromium  # the help page test renders the page in it
  debootstrap
  ffmpeg mediainfo python3
  vlc-bin vlc-plugin-base  # a third reader of the movies: cut-short files must play to their end
  gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-base-apps gstreamer1.0-libav
  libz-mingw-w64-dev zlib1g-dev
  clang clang-format libclang-rt-14-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev pkg-config
  libjpeg62-turbo-dev
  nasm dpkg-dev libopenh264-7  # OpenH264: built for Windows from Debian's source; the host tests load Debian's own
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exec "$(dirname "$0")/openh264.sh"
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# wine32 cannot run on these machines; never let a recommendation pull it in.
# The 32-bit build runs under the 32-bit Wine of an i386 root instead, which
# debootstrap builds once per machine (scripts/i686-root.sh), not on the host.
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
"$(dirname "$0")/openh264.sh"
