#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each one for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# Each target starts from a copy of fuzz/corpus/<name>/ under
# build-fuzz/corpus/, so the seeds in the repository stay as they are.
# Inputs that crash, leak or time out are kept in build-fuzz/crashes/<name>/,
# the output of each run in build-fuzz/logs/<name>.log. Exits non-zero when
# any target failed.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
all_targets=(fixer feedparser htmllinks dates entities feedurl opml keyedarchive changedb keyvaluefile)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

build_dir=build-fuzz
jobs=${FUZZ_BUILD_JOBS:-2}

set -e
bash scripts/setup.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$jobs" --target "${targets[@]/#/fuzz_}"
set +e

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:symbolize=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
# Failed engine assertions abort too, as in the test suites.
export CORVANE_ASSERT_ABORT=1
export QT_QPA_PLATFORM=offscreen

root=$(pwd)
failed=0
summary=()
for name in "${targets[@]}"; do
  corpus="$root/$build_dir/corpus/$name"
  crashes="$root/$build_dir/crashes/$name"
  log="$root/$build_dir/logs/$name.log"
  scratch="$root/$build_dir/tmp/$name"
  rm -rf "$scratch"
  mkdir -p "$corpus" "$crashes" "$(dirname "$log")" "$scratch"
  cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null
  # Temporary files (the OPML target's store) stay inside the build folder.
  TMPDIR="$scratch" "$build_dir/fuzz/fuzz_$name" "$corpus" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$crashes/" >"$log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  if [ $status -eq 0 ]; then
    result=ok
  else
    result="FAILED (exit $status)"
    failed=1
  fi
  line=$(printf '%-13s %-18s %8s runs %6s exec/s  %-10s  corpus %s' "$name" "$result" "${execs:-?}" "${speed:-?}" \
    "${cov:-cov: ?}" "$(ls "$corpus" | wc -l)")
  if [ $status -ne 0 ]; then
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    line+="  -> ${artifact:-see $log}"
  fi
  echo "$line"
  summary+=("$line")
done

echo
echo "fuzz summary ($seconds s per target):"
printf '  %s\n' "${summary[@]}"
exit $failed
