#!/usr/bin/env bash
# Renders the real windows under Xvfb into docs/screenshots/ (light and dark).
#   scripts/screenshots.sh [NAME...]   only the named shots
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target korvane_screenshots
mkdir -p docs/screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
  ./build/tests/korvane_screenshots docs/screenshots "$@"
