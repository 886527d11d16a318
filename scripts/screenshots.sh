#!/usr/bin/env bash
# Makes the README's pictures from the built program: runs the journey test
# (a person's first session, driven with xdotool) on a private X server and
# keeps the screen at two moments, in docs/.
#   scripts/screenshots.sh        (after scripts/dev.sh test has built build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
if ! command -v import >/dev/null; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends imagemagick
fi
cmake --build "$build" --target tst_journey tallyronet-recorder tallyro-standin-service
mkdir -p "$root/docs"
TALLYRO_SCREENSHOTS="$root/docs" LANG=C.UTF-8 LC_ALL=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1600x1200x24" "$build/tests/tst_journey"
ls -l "$root/docs/recording.png" "$root/docs/upload.png"
