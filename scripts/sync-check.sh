#!/usr/bin/env bash
# Sync between two machines through a real file-synchronisation engine.
#
# Two Syncthing daemons on 127.0.0.1, each with its own configuration folder,
# share one folder (no discovery, relays, NAT or usage reports: they only
# know each other). corvanectl runs on a home each side whose cloud container
# is that side's copy of the shared folder. A feed served on 127.0.0.1 gives
# both sides the same items. Side A subscribes, stars one item and reads
# another; the check shows that the subscription and the star (key-value
# files) and the read state (change database) reach side B.
#
#   scripts/sync-check.sh [BUILD_DIR]     (default: build)
# Exits non-zero when a check fails; skips (exit 0, with a message) only
# where syncthing cannot be installed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
ctl="$build/tools/corvanectl/corvanectl"
if [ ! -x "$ctl" ]; then
  echo "sync-check: $ctl is missing; build the corvanectl target first" >&2
  exit 1
fi
if ! command -v syncthing >/dev/null 2>&1; then
  bash scripts/setup.sh >/dev/null 2>&1 || true
fi
if ! command -v syncthing >/dev/null 2>&1; then
  echo "sync-check: skipped: syncthing is not installed and cannot be installed here"
  exit 0
fi

work=$(mktemp -d -t corvane-sync-check.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "${keep:-0}" = 1 ]; then
    echo "sync-check: logs kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

failures=0
check() { # check WHAT CONDITION-COMMAND...
  local what=$1
  shift
  if "$@"; then
    echo "sync-check: ok: $what"
  else
    echo "sync-check: FAILED: $what"
    failures=$((failures + 1))
  fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# The feed both sides subscribe to.
mkdir -p "$work/feed"
cat >"$work/feed/feed.xml" <<'EOF'
<?xml version="1.0"?>
<rss version="2.0"><channel><title>Sync Check</title><link>http://127.0.0.1/</link>
<item><title>First story</title><link>http://127.0.0.1/stories/1</link><guid>story-1</guid></item>
<item><title>Second story</title><link>http://127.0.0.1/stories/2</link><guid>story-2</guid></item>
<item><title>Third story</title><link>http://127.0.0.1/stories/3</link><guid>story-3</guid></item>
</channel></rss>
EOF
feed_port=$(free_port)
python3 -m http.server "$feed_port" --bind 127.0.0.1 --directory "$work/feed" >"$work/feed.log" 2>&1 &
pids+=($!)
feed="http://127.0.0.1:$feed_port/feed.xml"

# One Syncthing configuration per side.
declare -A gui_port listen_port api_key device_id
for side in a b; do
  mkdir -p "$work/$side/cloud" "$work/$side/home"
  syncthing generate --home="$work/$side/st" --no-default-folder --skip-port-probing >"$work/$side/generate.log" 2>&1
  gui_port[$side]=$(free_port)
  listen_port[$side]=$(free_port)
  api_key[$side]=$(python3 -c 'import secrets; print(secrets.token_hex(16))')
  device_id[$side]=$(syncthing serve --home="$work/$side/st" --device-id 2>/dev/null | tail -n 1)
  # Our own temporary names never travel.
  printf '(?d).*.tmp\n' >"$work/$side/cloud/.stignore"
done

configure() { # configure SIDE PEER
  local side=$1 peer=$2
  python3 - "$work/$side/st/config.xml" "${device_id[$side]}" "${device_id[$peer]}" "${listen_port[$peer]}" \
    "${gui_port[$side]}" "${api_key[$side]}" "${listen_port[$side]}" "$work/$side/cloud" <<'EOF'
import sys
import xml.etree.ElementTree as ET

path, me, peer, peer_port, gui_port, api_key, listen_port, folder_path = sys.argv[1:]
tree = ET.parse(path)
root = tree.getroot()

def setchild(parent, tag, text):
    node = parent.find(tag)
    if node is None:
        node = ET.SubElement(parent, tag)
    node.text = text

gui = root.find("gui")
gui.set("enabled", "true")
gui.set("tls", "false")
setchild(gui, "address", "127.0.0.1:" + gui_port)
setchild(gui, "apikey", api_key)

options = root.find("options")
for node in options.findall("listenAddress"):
    options.remove(node)
ET.SubElement(options, "listenAddress").text = "tcp://127.0.0.1:" + listen_port
for tag, value in [("globalAnnounceEnabled", "false"), ("localAnnounceEnabled", "false"),
                   ("relaysEnabled", "false"), ("natEnabled", "false"), ("urAccepted", "-1"),
                   ("urSeen", "3"), ("autoUpgradeIntervalH", "0"), ("startBrowser", "false"),
                   ("crashReportingEnabled", "false"), ("announceLANAddresses", "false")]:
    setchild(options, tag, value)

for node in root.findall("device"):
    if node.get("id") != me:
        root.remove(node)
for node in root.findall("folder"):
    root.remove(node)
peer_device = ET.SubElement(root, "device", {"id": peer, "name": "peer", "compression": "metadata",
                                             "introducer": "false", "autoAcceptFolders": "false"})
ET.SubElement(peer_device, "address").text = "tcp://127.0.0.1:" + peer_port
self_device = root.find("device")
for node in self_device.findall("address"):
    self_device.remove(node)
ET.SubElement(self_device, "address").text = "tcp://127.0.0.1:" + listen_port

folder = ET.Element("folder", {"id": "corvane", "label": "Corvane", "path": folder_path, "type": "sendreceive",
                               "rescanIntervalS": "5", "fsWatcherEnabled": "true", "fsWatcherDelayS": "1",
                               "ignorePerms": "false", "autoNormalize": "true"})
ET.SubElement(folder, "device", {"id": me})
ET.SubElement(folder, "device", {"id": peer})
root.insert(0, folder)
tree.write(path)
EOF
}
configure a b
configure b a

for side in a b; do
  STNOUPGRADE=1 syncthing serve --home="$work/$side/st" --no-browser --no-restart \
    --logfile="$work/$side/syncthing.log" >"$work/$side/syncthing.out" 2>&1 &
  pids+=($!)
done

rest() { # rest SIDE PATH
  curl -fsS -H "X-API-Key: ${api_key[$1]}" "http://127.0.0.1:${gui_port[$1]}$2"
}
wait_until() { # wait_until SECONDS COMMAND...: polls once a second
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 1
  done
}
connected() {
  rest a /rest/system/connections 2>/dev/null |
    python3 -c 'import json,sys; c=json.load(sys.stdin)["connections"]; sys.exit(0 if any(v.get("connected") for v in c.values()) else 1)'
}
for side in a b; do
  if ! wait_until 30 rest "$side" /rest/system/ping >/dev/null 2>&1; then
    keep=1
    echo "sync-check: FAILED: Syncthing on side $side did not start (see $work/$side/syncthing.log)"
    exit 1
  fi
done
if ! wait_until 60 connected; then
  keep=1
  echo "sync-check: FAILED: the two Syncthing daemons did not connect"
  exit 1
fi
echo "sync-check: two Syncthing daemons on 127.0.0.1 connected, sharing one folder"

ctl_on() { # ctl_on SIDE ARGS...
  local side=$1
  shift
  "$ctl" --home "$work/$side/home" --no-default-feeds --assume-online \
    --set CloudContainerPath="$work/$side/cloud" "$@"
}
items_json() { ctl_on "$1" list-items --json --all; }
# item_field SIDE TITLE FIELD: prints true/false, or "missing"
item_field() {
  items_json "$1" | python3 -c '
import json, sys
title, field = sys.argv[1], sys.argv[2]
for item in json.load(sys.stdin):
    if item.get("title") == title:
        print("true" if item.get(field) else "false")
        break
else:
    print("missing")' "$2" "$3"
}
hash_of() { # hash_of SIDE TITLE
  items_json "$1" | python3 -c '
import json, sys
for item in json.load(sys.stdin):
    if item.get("title") == sys.argv[1]:
        print(item["itemHash"])' "$2"
}

# Side A: subscribe, fetch, star one item, read another, and let sync publish.
ctl_on a add "$feed" >"$work/a/add.log"
ctl_on a refresh --timeout 60 >"$work/a/refresh.log"
star_hash=$(hash_of a "First story")
read_hash=$(hash_of a "Second story")
if [ -z "$star_hash" ] || [ -z "$read_hash" ]; then
  keep=1
  echo "sync-check: FAILED: side A did not fetch the feed (see $work/a/refresh.log)"
  exit 1
fi
ctl_on a star "$star_hash" >/dev/null
ctl_on a read "$read_hash" >/dev/null
ctl_on a run --duration 8 >"$work/a/run.log"
machine_a=$(ctl_on a machine)

arrived() { # arrived FOLDER: a file of side A in side B's copy
  compgen -G "$work/b/cloud/$1/$machine_a--*" >/dev/null
}
check "side A's key-value file reached side B through Syncthing" wait_until 90 arrived keyvalue
check "side A's read-state snapshot reached side B through Syncthing" wait_until 90 arrived changedb

# Side B: run the engine until what A did is there (or give up).
subscribed_on_b() { ctl_on b list-feeds --json | grep -q "\"$feed\""; }
starred_on_b() { [ "$(item_field b "First story" starred)" = true ]; }
read_on_b() { [ "$(item_field b "Second story" read)" = true ]; }
unread_stays_on_b() { [ "$(item_field b "Third story" read)" = false ]; }
all_on_b() { subscribed_on_b && starred_on_b && read_on_b; }
for round in 1 2 3 4 5 6; do
  ctl_on b run --duration 6 >>"$work/b/run.log" 2>&1
  all_on_b && break
done
check "the subscription added on side A is on side B" subscribed_on_b
check "the item starred on side A is starred on side B" starred_on_b
check "the item read on side A is read on side B" read_on_b
check "an item untouched on side A stays unread on side B" unread_stays_on_b

ctl_on a sync-status >"$work/a/status.txt"
ctl_on b sync-status >"$work/b/status.txt"
echo "sync-check: side B's sync-status:"
sed 's/^/  /' "$work/b/status.txt"

if [ "$failures" -gt 0 ]; then
  keep=1
  echo "sync-check: $failures check(s) failed"
  exit 1
fi
echo "sync-check: all checks passed"
