#!/usr/bin/env bash
# Installs the built package into a fresh, minimal Debian 12 (made with
# mmdebstrap in a temporary folder, then entered with chroot) and checks that
# apt pulls in everything it needs: both programs start, the command line
# converts a clip to video and to sound, the desktop program creates its
# history (so the SQLite driver is there), and removing the package leaves
# none of its programs. Needs root and Debian's archive; not part of ctest.
#   tests/packaging/fresh-install.sh [PACKAGE.deb] [CLIP]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
deb="${1:-$root/build/korvane_0.1.0_amd64.deb}"
clip="${2:-}"
[ -f "$deb" ] || { echo "no package at $deb (scripts/package.sh build makes it)"; exit 1; }
[ "$(id -u)" = 0 ] || { echo "run as root: chroot needs it"; exit 1; }
command -v mmdebstrap >/dev/null || apt-get install -y -qq mmdebstrap >/dev/null
work="$(mktemp -d)"
trap 'umount "$work/proc" 2>/dev/null || true; rm -rf "$work"' EXIT
mmdebstrap --quiet --variant=apt --include=ca-certificates bookworm "$work"
cp "$deb" "$work/tmp/korvane.deb"
if [ -z "$clip" ]; then
  ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -f lavfi -i sine=duration=2 \
    -c:v libx264 -c:a aac -shortest "$work/tmp/clip.mp4"
else
  cp "$clip" "$work/tmp/clip.mp4"
fi
cp /etc/resolv.conf "$work/etc/resolv.conf"
mount --bind /proc "$work/proc"
chroot "$work" bash -euo pipefail -c '
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/korvane.deb >/tmp/install.log 2>&1 ||
    { cat /tmp/install.log; exit 1; }
  korvane-cli --version
  QT_QPA_PLATFORM=offscreen korvane --version
  cd /tmp
  korvane-cli convert clip.mp4 -p "MPEG4-AVC(*.mp4)" -o out.mp4 --quiet
  korvane-cli convert clip.mp4 -p "MP3 Audio" -o out.mp3 --quiet
  export HOME=/tmp/home XDG_CONFIG_HOME=/tmp/home/.config
  mkdir -p "$HOME"
  QT_QPA_PLATFORM=offscreen timeout 6 korvane >/dev/null 2>&1 || [ $? = 124 ]
  test -s "$XDG_CONFIG_HOME/KorvaneSoft/Velquist/av.cfg"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq korvane >/dev/null 2>&1
  ! ls /usr/bin/korvane /usr/bin/korvane-cli 2>/dev/null
'
for f in out.mp4 out.mp3; do
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/tmp/$f" | sed "s/^/$f: /"
done
echo "fresh-install: the package installs, converts, starts and removes on a fresh Debian 12"
