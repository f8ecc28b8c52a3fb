#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main program with the given
# arguments (corvanectl, the engine's command-line front end, until the desktop
# application exists; without arguments it shows its help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target corvanectl
if [ $# -eq 0 ]; then
  exec build/tools/corvanectl/corvanectl --help
fi
exec build/tools/corvanectl/corvanectl "$@"
