#!/usr/bin/env bash
# Corvane side by side with peers, in one run on the same input:
#   1. parsing: Corvane's feed reader (bench/compare/parse_dump) against the
#      Python feedparser library on a generated corpus plus the repository's
#      feed fixtures: files per second, and agreement on item counts, titles
#      and links, judged against what the generator meant;
#   2. refresh: `corvanectl refresh` against `newsboat -x reload` over the
#      same feeds served from one 127.0.0.1 server: wall time, CPU time and
#      peak memory from GNU time;
#   3. idle: the CPU time of a running engine with nothing due.
#
#   bench/compare/run.sh [OUT_DIR]
#
# Environment: BUILD (build tree, default build), FEEDS (500), RUNS (refresh
# runs of each program, interleaved, default 3), IDLE_FEEDS (100),
# IDLE_SECONDS (60), OUR_ROUNDS (10) and FEEDPARSER_ROUNDS (3) timed passes
# over the corpus. Installs nothing: it says what is missing and how to get it.
# Everything it writes goes to OUT_DIR (default: a new temporary folder),
# report.md last.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/../.."
build=${BUILD:-build}
feeds=${FEEDS:-500}
runs=${RUNS:-3}
idle_feeds=${IDLE_FEEDS:-100}
idle_seconds=${IDLE_SECONDS:-60}
ctl=$build/tools/corvanectl/corvanectl
dump=$build/bench/compare/parse_dump
py=/usr/bin/python3   # Debian's: the one that sees python3-feedparser

missing=()
[ -x "$ctl" ] && [ -x "$dump" ] || missing+=("the programs: cmake --build $build --target corvanectl parse_dump")
[ -x /usr/bin/time ] || missing+=("GNU time: apt-get install time")
[ -x "$py" ] || missing+=("Debian's Python: apt-get install python3")
"$py" -c 'import feedparser' 2>/dev/null || missing+=("feedparser for $py: apt-get install python3-feedparser")
command -v newsboat >/dev/null || missing+=("Newsboat: apt-get install newsboat")
command -v sqlite3 >/dev/null || missing+=("sqlite3 (to count Newsboat's items): apt-get install sqlite3")
if [ ${#missing[@]} -gt 0 ]; then
  printf 'bench/compare/run.sh needs:\n' >&2
  printf '  %s\n' "${missing[@]}" >&2
  printf '(scripts/setup.sh installs the packages)\n' >&2
  exit 1
fi

out=${1:-$(mktemp -d /tmp/corvane-compare.XXXXXX)}
mkdir -p "$out"
server_pid=
run_pid=
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
}
trap cleanup EXIT

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
  echo "memory: $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "corvane: $(git rev-parse --short HEAD) ($build, $(grep -m1 CMAKE_BUILD_TYPE "$build/CMakeCache.txt" | cut -d= -f2))"
  echo "feedparser: $("$py" -c 'import feedparser; print(feedparser.__version__)')"
  echo "newsboat: $(newsboat --version | head -1)"
} >"$out/machine.txt"
cat "$out/machine.txt"

# 1. Parsing ----------------------------------------------------------------
echo "== parsing"
corpus=$out/corpus
rm -rf "$corpus"
"$py" "$here/gen_corpus.py" "$corpus"
# The feed fixtures of the repository: the fuzzer's seed feeds, and any feed
# document under tests/data.
for f in fuzz/corpus/feedparser/*; do cp "$f" "$corpus/fixture-$(basename "$f").xml"; done
while IFS= read -r -d '' f; do
  if head -c 2048 "$f" | grep -qE '<(rss|feed|rdf:RDF)[ >]'; then
    cp "$f" "$corpus/fixture-$(echo "${f#tests/data/}" | tr / -)"
  fi
done < <(find tests/data -type f \( -name '*.xml' -o -name '*.rss' -o -name '*.atom' -o -name '*.rdf' \) -print0 2>/dev/null)
files=()
while IFS= read -r f; do files+=("$f"); done < <(find "$corpus" -type f ! -name truth.json | sort)
echo "${#files[@]} files"
"$dump" --repeat "${OUR_ROUNDS:-10}" --out "$out/corvane-items.json" "${files[@]}" >"$out/corvane-parse.json"
"$py" "$here/fp_dump.py" --repeat "${FEEDPARSER_ROUNDS:-3}" --out "$out/feedparser-items.json" "${files[@]}" \
  >"$out/feedparser-parse.json"
"$py" "$here/compare.py" "$out/corvane-items.json" "$out/feedparser-items.json" "$corpus/truth.json" \
  --examples 2 --markdown "$out/agreement.md" >/dev/null

# 2. Refresh ----------------------------------------------------------------
echo "== refresh of $feeds feeds, $runs runs each"
slots=$((5 + feeds / 30))   # FetchPool: 5 slots plus one per 30 subscriptions
rm -f "$out/port"
"$py" "$here/serve_feeds.py" "$feeds" "$out/port" &
server_pid=$!
for _ in $(seq 100); do [ -s "$out/port" ] && break; sleep 0.1; done
port=$(cat "$out/port")
stats() { "$py" -c "import urllib.request; print(urllib.request.urlopen('http://127.0.0.1:$port/stats').read().decode())"; }
"$py" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/feed0.xml').read()"
: >"$out/urls"
for n in $(seq 0 $((feeds - 1))); do echo "http://127.0.0.1:$port/feed$n.xml" >>"$out/urls"; done
mapfile -t urls <"$out/urls"

for run in $(seq 1 "$runs"); do
  home=$out/corvane-home-$run
  rm -rf "$home"
  # Adding fetches the new subscriptions at once: the server turns those
  # fetches away, so the measured refresh reads every feed cold.
  "$py" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/pause')"
  "$ctl" --home "$home" --no-default-feeds add "${urls[@]}" >/dev/null
  "$py" -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/resume')"
  stats >/dev/null
  /usr/bin/time -v -o "$out/corvane-refresh-$run.time" \
    "$ctl" --home "$home" --assume-online refresh --timeout 900 >"$out/corvane-refresh-$run.out"
  stats >"$out/corvane-refresh-$run.requests"
  echo "corvanectl refresh, run $run: done"

  nb=$out/newsboat-$run
  rm -rf "$nb"
  mkdir -p "$nb/home"
  cp "$out/urls" "$nb/urls"
  printf 'reload-threads %d\n' "$slots" >"$nb/config"
  stats >/dev/null
  HOME=$nb/home XDG_CONFIG_HOME=$nb/home/.config XDG_DATA_HOME=$nb/home/.local/share \
    /usr/bin/time -v -o "$out/newsboat-refresh-$run.time" \
    newsboat -u "$nb/urls" -c "$nb/cache.db" -C "$nb/config" -x reload >"$out/newsboat-refresh-$run.out" 2>&1
  stats >"$out/newsboat-refresh-$run.requests"
  sqlite3 "$nb/cache.db" 'SELECT count(*), count(DISTINCT feedurl) FROM rss_item' >"$out/newsboat-refresh-$run.items"
  echo "newsboat -x reload, run $run: done"
done

# 3. Idle -------------------------------------------------------------------
echo "== idle engine with $idle_feeds subscriptions"
home=$out/idle-home
rm -rf "$home"
"$ctl" --home "$home" --no-default-feeds add "${urls[@]:0:$idle_feeds}" >/dev/null
"$ctl" --home "$home" --assume-online refresh --timeout 900 >"$out/idle-refresh.out"
# a) the whole process, `run --duration`, under GNU time.
/usr/bin/time -v -o "$out/idle-run.time" \
  "$ctl" --home "$home" --assume-online run --duration "$idle_seconds" >"$out/idle-run.out"
# b) a quiet window: every start of the engine refreshes each subscription
#    once (the run flags live in the process), so wait for that round to end,
#    then read the process's CPU ticks from /proc over the window.
"$ctl" --home "$home" --assume-online run >"$out/idle-window.out" &
run_pid=$!
for _ in $(seq 300); do
  [ "$(wc -l <"$out/idle-window.out")" -ge "$idle_feeds" ] && break
  sleep 1
done
sleep 5
before=$(awk '{ print $14 + $15 }' "/proc/$run_pid/stat")
lines_before=$(wc -l <"$out/idle-window.out")
sleep "$idle_seconds"
after=$(awk '{ print $14 + $15 }' "/proc/$run_pid/stat")
rss=$(awk '/VmRSS/ { print $2 }' "/proc/$run_pid/status")
lines_after=$(wc -l <"$out/idle-window.out")
kill -TERM "$run_pid"
wait "$run_pid" || true
run_pid=
echo "$before $after $(getconf CLK_TCK) $idle_seconds $rss $lines_before $lines_after" >"$out/idle-window.ticks"

kill "$server_pid" 2>/dev/null || true
wait "$server_pid" 2>/dev/null || true
server_pid=
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"

"$py" "$here/report.py" "$out" "$feeds" "$runs" "$slots" "$idle_feeds" >"$out/report.md"
cat "$out/report.md"
echo "(everything is in $out)"
