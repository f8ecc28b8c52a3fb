#!/usr/bin/env bash
# Installs the Debian packages Corvane needs to build, test and run.
# Idempotent: packages already installed are skipped, and the package lists
# are refreshed only when something has to be installed.
set -euo pipefail

packages=(
  # build, tests, benchmarks
  cmake ninja-build ccache g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
  # toolkit
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libqt6opengl6-dev qt6-webengine-dev qt6-networkauth-dev qtkeychain-qt6-dev
  # engine libraries
  libsqlite3-dev sqlite3 libxml2-dev zlib1g-dev libcurl4-openssl-dev libicu-dev libplist-dev libplist++-dev libcanberra-dev
  # test tools: certificates for the TLS cases, a private bus for the wake case, timing for bench/refresh_bench
  openssl dbus time bc python3
  xdg-utils  # the default handler of feed: links (xdg-mime)
  desktop-file-utils appstream dpkg-dev  # checks of the installed files, the Debian package (scripts/install-check.sh)
  python3-dbusmock  # a fake notification server on a private bus for the notification tests
  syncthing curl  # scripts/sync-check.sh: two machines syncing through a real sync engine
  xvfb openbox x11-utils xauth  # a private X server and window manager for the dock and window-level tests
  newsboat python3-feedparser  # the peers bench/compare/run.sh measures against
  # the screenshot check (scripts/gui-check.sh): an X server, a window manager, X tools
  xvfb openbox x11-utils xauth xdotool imagemagick xcompmgr trayer
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
