#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop bar with the given
# arguments (corvane [--home DIR] [--assume-online] [--no-default-feeds]
# [--set KEY=VALUE] [URL...]). corvanectl, the command-line front end for
# scripts, is built beside it in build/tools/corvanectl/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target corvane corvanectl
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the bar on; start it from a desktop session," >&2
  echo "        or use build/tools/corvanectl/corvanectl on a machine without one." >&2
  exit 1
fi
exec build/app/shell/corvane "$@"
