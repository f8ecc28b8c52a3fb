#!/usr/bin/env bash
# Starts the bar as a user sees it and checks how it sits on the screen:
# under Xvfb with a real window manager (openbox), on a home filled from a
# feed server on 127.0.0.1. Checks with xprop that the bar is a dock window
# with a strut of its width at the left edge and spans the screen height,
# then saves a screenshot (docs/screenshots/bar.png unless given).
#   scripts/gui-check.sh [SCREENSHOT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
shot=${1:-$root/docs/screenshots/bar.png}
build=${CORVANE_BUILD_DIR:-build}

bash scripts/setup.sh
if [ ! -x "$build/app/shell/corvane" ] || [ ! -x "$build/tools/corvanectl/corvanectl" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target corvane corvanectl
fi
corvane=$root/$build/app/shell/corvane
ctl=$root/$build/tools/corvanectl/corvanectl

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "gui-check: $*" >&2; exit 1; }

# Three sites on loopback addresses of their own, each with a feed and an icon.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
hosts=(127.0.0.1 127.0.0.2 127.0.0.3)
colours=('#d9542b' '#2b8ad9' '#3aa655')
letters=(C S O)
bases=()
for h in "${hosts[@]}"; do bases+=("http://$h:$port"); done
python3 scripts/gui/makefeeds.py "$work/www" "${bases[@]}"
for n in 0 1 2; do
  convert -size 32x32 xc:none -fill "${colours[$n]}" -draw 'roundrectangle 0,0 31,31 7,7' \
    -fill white -font DejaVu-Sans-Bold -pointsize 22 -gravity center -annotate +0+1 "${letters[$n]}" \
    "$work/www/$n/favicon.png" && mv "$work/www/$n/favicon.png" "$work/www/$n/favicon.ico" || true
  (cd "$work/www/$n" && exec python3 -m http.server "$port" --bind "${hosts[$n]}" >/dev/null 2>&1) &
  pids+=($!)
done
for base in "${bases[@]}"; do
  for _ in $(seq 50); do
    python3 -c "import urllib.request,sys; urllib.request.urlopen(sys.argv[1], timeout=1)" "$base/" 2>/dev/null && break
    sleep 0.1
  done
done

home="$work/home"
feeds=(city science tech)
categories=(News Science Technology)
for n in 0 1 2; do
  "$ctl" --home "$home" --no-default-feeds add "${bases[$n]}/${feeds[$n]}.xml" --category "${categories[$n]}" >/dev/null
done
"$ctl" --home "$home" --assume-online refresh >/dev/null || fail "the refresh of the local feeds failed"
# As after a while of use: a keyword that marks, two items read, one starred.
"$ctl" --home "$home" keywords bridge >/dev/null
mapfile -t hashes < <("$ctl" --home "$home" list-items | awk '{print $4}')
[ "${#hashes[@]}" -ge 6 ] || fail "the local feeds gave only ${#hashes[@]} items"
"$ctl" --home "$home" read "${hashes[1]}" >/dev/null
"$ctl" --home "$home" read "${hashes[3]}" >/dev/null
"$ctl" --home "$home" star "${hashes[2]}" >/dev/null
for category in "${categories[@]}"; do "$ctl" --home "$home" sidebar "$category" on >/dev/null; done

# A private X server with a window manager.
# Xvfb takes the first free display and writes its number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -1 "$work/display")
for _ in $(seq 50); do xprop -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
sleep 1
# A compositor, so the bar's translucency shows (over its grey backdrop).
xcompmgr >/dev/null 2>&1 &
pids+=($!)
sleep 1

unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
"$corvane" --home "$home" --assume-online --set BarWidth=280 >"$work/corvane.log" 2>&1 &
pids+=($!)

window=""
for _ in $(seq 100); do
  window=$(xdotool search --classname corvane 2>/dev/null | head -1 || true)
  [ -n "$window" ] && xprop -id "$window" _NET_WM_STRUT_PARTIAL 2>/dev/null | grep -q '=' && break
  sleep 0.1
done
[ -n "$window" ] || { cat "$work/corvane.log" >&2; fail "no bar window appeared"; }

type=$(xprop -id "$window" _NET_WM_WINDOW_TYPE)
echo "$type" | grep -q '_NET_WM_WINDOW_TYPE_DOCK' || fail "the bar is no dock window: $type"
strut=$(xprop -id "$window" _NET_WM_STRUT_PARTIAL | sed 's/.*= //')
IFS=', ' read -r -a s <<<"$strut"
[ "${s[0]}" = 280 ] || fail "the strut does not reserve the bar's width at the left edge: $strut"
[ "${s[1]}" = 0 ] && [ "${s[2]}" = 0 ] && [ "${s[3]}" = 0 ] || fail "the strut reserves other edges: $strut"
[ "${s[4]}" = 0 ] && [ "${s[5]}" = 799 ] || fail "the strut does not span the screen height: $strut"
geometry=$(xdotool getwindowgeometry "$window")
echo "$geometry" | grep -q 'Position: 0,0' || fail "the bar is not at the left edge: $geometry"
echo "$geometry" | grep -q 'Geometry: 280x800' || fail "the bar does not span the screen height: $geometry"

# A first start shows "What's New" once; Escape closes it.
whatsnew=""
for _ in $(seq 50); do
  whatsnew=$(xdotool search --onlyvisible --name "What's New" 2>/dev/null | head -1 || true)
  [ -n "$whatsnew" ] && break
  sleep 0.1
done
[ -n "$whatsnew" ] || fail "a first start showed no What's New window"
xdotool windowactivate --sync "$whatsnew" key Escape
for _ in $(seq 50); do
  xdotool search --onlyvisible --name "What's New" >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name "What's New" >/dev/null 2>&1 && fail "Escape did not close What's New"

# Let the items come in and the pictures load, then take the picture.
sleep 3
mkdir -p "$(dirname "$shot")"
import -window root -crop 640x800+0+0 "$shot"
# A click on the first entry opens its preview beside the bar.
preview_shot=$(dirname "$shot")/preview.png
xdotool mousemove 120 40 click 1
bubble=""
for _ in $(seq 100); do
  bubble=$(xdotool search --onlyvisible --name 'Corvane Preview' 2>/dev/null | head -1 || true)
  [ -n "$bubble" ] && break
  sleep 0.1
done
[ -n "$bubble" ] || { cat "$work/corvane.log" >&2; fail "no preview appeared after a click on the first entry"; }
sleep 1
import -window root -crop 720x800+0+0 "$preview_shot"

# The tray mode, as "Open at login" starts it: a second home with the tray icon
# on and --autostart; the panel (an XEmbed tray) starts after Corvane, and the
# icon must still reach it while the bar stays hidden behind it.
"$corvane" --home "$work/trayhome" --no-default-feeds --assume-online --autostart \
  --set showInDock=false --set prevVersion=999999 >"$work/corvane-tray.log" 2>&1 &
tray_pid=$!
pids+=($tray_pid)
sleep 2
trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
pids+=($!)
docked=""
for _ in $(seq 150); do
  tree=$(xwininfo -root -tree)
  docked=$(awk '/"panel": \("panel" "trayer"\)/ {inpanel=1; next} inpanel && /"Corvane": \("corvane" "Corvane"\)/ {print; exit}' <<<"$tree")
  [ -n "$docked" ] && break
  sleep 0.1
done
[ -n "$docked" ] || { cat "$work/corvane-tray.log" >&2; fail "the tray icon did not reach a tray that started later"; }
for w in $(xdotool search --onlyvisible --pid "$tray_pid" 2>/dev/null || true); do
  height=$(xdotool getwindowgeometry "$w" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
  [ "${height:-0}" -le 100 ] || fail "started at login with a tray, the bar showed anyway (window $w, height $height)"
done
echo "gui-check: tray icon docked: $(echo "$docked" | awk '{print $1, $4}')"

echo "gui-check: dock window $window, strut $strut, $geometry"
echo "gui-check: preview screenshot in $preview_shot"
echo "gui-check: screenshot in $shot"
