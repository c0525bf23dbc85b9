#!/usr/bin/env bash
# Installs the Debian packages that the build, the main job and the tests need, only those
# that are missing. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
  libplist-dev libplist-utils
  xvfb xauth xdotool x11-utils imagemagick
  sudo passwd procps psmisc util-linux mount python3 tzdata
  dbus-daemon dbus-bin polkitd pkexec libpolkit-agent-1-dev libpolkit-gobject-1-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
