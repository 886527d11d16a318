#!/usr/bin/env bash
# Set-up, build and run or test the recorder on Debian 12.
#   scripts/dev.sh run    install what is missing, build, start the recorder
#   scripts/dev.sh test   install what is missing, build, run every test
#   scripts/dev.sh sanitize   the same with AddressSanitizer and UndefinedBehaviorSanitizer
#                         (build-sanitize/), running the tests that SANITIZE_TESTS selects
# Environment: BUILD_DIR (default build), TALLYRO_WERROR / TALLYRO_SANITIZE (ON/OFF).
set -euo pipefail

mode=${1:-}
case "$mode" in
  run|test|sanitize) ;;
  *) echo "usage: $0 run|test|sanitize" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
sanitize=${TALLYRO_SANITIZE:-OFF}
if [ "$mode" = sanitize ]; then
  build=${BUILD_DIR:-$root/build-sanitize}
  sanitize=ON
fi

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALLYRO_WERROR="${TALLYRO_WERROR:-OFF}" -DTALLYRO_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)"

if [ "$mode" = run ]; then
  exec "$build/app/tallyronet-recorder"
fi

# Tests that need a display get a private X server.
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-}"
# Without a session bus, D-Bus would start one from a forked copy of a test;
# under the sanitizers that copy can hang before it starts the bus, holding the
# test's output open until ctest gives up. An address that leads nowhere stops it.
export DBUS_SESSION_BUS_ADDRESS="${DBUS_SESSION_BUS_ADDRESS:-unix:path=/nonexistent/tallyro-test-bus}"
cd "$build"
if [ "$mode" = sanitize ]; then
  xvfb-run -a -s "-screen 0 1600x1200x24" ctest --output-on-failure --timeout 900 -R "${SANITIZE_TESTS:-.}"
else
  xvfb-run -a -s "-screen 0 1600x1200x24" ctest --output-on-failure --timeout 600
fi
