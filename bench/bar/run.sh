#!/usr/bin/env bash
# The bar's figures: start-up with 100,000 stored items, idle CPU and
# scrolling with 500, resident memory with 10,000.
#   bench/bar/run.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
seconds=${2:-60}
cmake --build "$build" --target bar_bench >/dev/null
bench="$build/bench/bar_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" generate "$work/100k" 100000 >/dev/null
"$bench" generate "$work/10k" 10000 >/dev/null
"$bench" generate "$work/500" 500 >/dev/null
"$bench" startup "$work/100k"
"$bench" startup "$work/100k"
"$bench" idle "$work/500" "$seconds"
"$bench" scroll "$work/500"
"$bench" memory "$work/10k"
