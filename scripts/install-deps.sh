#!/usr/bin/env bash
# Installs every Debian 12 package needed to build, run and test the project.
# Idempotent: packages already present are left alone, and the package lists are
# refreshed only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-multimedia-dev libgl-dev
  libavcodec-dev libavformat-dev libavfilter-dev libavdevice-dev libavutil-dev
  libswscale-dev libswresample-dev ffmpeg
  libdvdnav-dev libdvdread-dev dvdauthor genisoimage
  liblua5.4-dev libasound2-dev libfontconfig-dev
  libgtest-dev libgmock-dev
  fonts-dejavu-core time xvfb xauth xdotool pulseaudio pulseaudio-utils libasound2-plugins
  dpkg-dev lintian desktop-file-utils appstream librsvg2-bin file man-db zsh
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
