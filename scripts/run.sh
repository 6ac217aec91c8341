#!/usr/bin/env bash
# Installs what the project needs, builds it, converts a generated sample with
# korvane-cli and then starts the desktop program when there is a display.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target korvane-cli korvane
mkdir -p build/demo
ffmpeg -y -hide_banner -loglevel error -f lavfi -i testsrc=size=320x240:rate=25:duration=3 \
  -f lavfi -i sine=frequency=440:duration=3 -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  -c:a aac build/demo/sample.mp4
./build/src/cli/korvane-cli --version
./build/src/cli/korvane-cli convert build/demo/sample.mp4 -o build/demo/sample.mkv \
  --set VideoOptions.VideoStreamCopy=1 --set AudioOptions.AudioStreamCopy=1 --overwrite
echo "wrote build/demo/sample.mkv"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/src/app/korvane build/demo/sample.mp4
fi
./build/src/app/korvane --version
echo "no display: start ./build/src/app/korvane from a desktop session"
