#!/usr/bin/env bash
# The main job: sets the machine up, builds, installs a sample product into a sandbox folder,
# makes a deployment of the uninstaller pointing at it, and runs the wizard.
#
#   scripts/run.sh [tavrin|pelloma]      (default: tavrin)
#
# With a display ($DISPLAY) you click through the wizard yourself. Without one it runs under
# Xvfb, goes through the three pages by itself (answering the alert "Yes"), saves a screenshot
# of each page and prints what the sandbox held before and what is left after.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
brand=${1:-tavrin}
case "$brand" in
  tavrin) table=$root/Deployments/Tavrin.plist ;;
  pelloma) table=$root/Deployments/Pelloma.plist ;;
  *) echo "usage: scripts/run.sh [tavrin|pelloma]" >&2; exit 2 ;;
esac

if [ -z "${DISPLAY:-}" ] && [ "$(id -u)" -ne 0 ]; then
  # Without a display the wizard runs under Xvfb, where nobody can answer a password window: a
  # non-root run gets its rights on the terminal first, or says in one line what it needs and
  # stops, before anything is set up.
  if gdbus call --system --timeout 5 --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner org.freedesktop.PolicyKit1 2>/dev/null | grep -q true; then
    export ZV_AUTHORIZATION_PROMPT=terminal
    [ -t 0 ] || { echo "run.sh: the uninstall needs administrator rights (an administrator's password); run it from a terminal, with a display, or as root" >&2; exit 1; }
  elif [ -x /usr/bin/sudo ] && [ -t 0 ]; then
    echo "== The uninstall needs administrator rights: sudo asks for your password."
    /usr/bin/sudo -v || { echo "run.sh: no administrator rights; nothing was uninstalled" >&2; exit 1; }
  else
    echo "run.sh: the uninstall needs administrator rights; run it from a terminal (with sudo or polkit), with a display, or as root" >&2
    exit 1
  fi
fi

# ZV_SKIP_BUILD=1 runs on what BUILD_DIR already holds (the test of the main job does).
if [ -z "${ZV_SKIP_BUILD:-}" ]; then
  "$root/scripts/setup.sh"
  "$root/scripts/build.sh"
fi
# From here on the run has a session bus of its own, ended with it: System Events serves the
# sandbox's login items, never those of a desktop session the user may be in.
if [ -z "${ZV_RUN_BUS:-}" ]; then
  ZV_RUN_BUS=1 ZV_SKIP_BUILD=1 exec dbus-run-session -- bash "$0" "$@"
fi
build=${BUILD_DIR:-$root/build}
export PATH="$build/bin:$PATH"

job=$build/main-job/$brand
rm -rf "$job"
sandbox=$job/sandbox
deployment=$job/deployment
shots=$job/screenshots
mkdir -p "$sandbox" "$shots"
# The user's home folder, login items and runtime files live in the sandbox for this run.
export HOME=$sandbox/home/$(id -un)
export XDG_CONFIG_HOME=$HOME/.config XDG_RUNTIME_DIR=$sandbox/run/user
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

"$root/tools/make-deployment.sh" "$table" "$deployment" "$sandbox" >/dev/null
cleanup() {
  python3 "$root/tools/sample-product.py" stop "$deployment" || true
  if [ -x "$build/bin/zvtool" ] && "$build/bin/zvtool" help 2>/dev/null | grep -q login-items; then
    "$build/bin/zvtool" login-items quit-agent >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT
python3 "$root/tools/sample-product.py" install "$deployment"

echo "== Sample product in $sandbox, before the uninstall:"
python3 "$root/tools/sample-product.py" report "$deployment"

echo "== What the uninstall will do (zvtool uninstall plan):"
"$build/bin/zvtool" uninstall plan "$deployment" | sed 's/^/  /' || true

if [ -n "${DISPLAY:-}" ]; then
  echo "== Running the uninstaller; click through its pages."
  "$deployment/Uninstaller" || true
else
  echo "== Running the uninstaller under Xvfb, driven through its pages:"
  xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/UninstallerDriver" "$deployment" "$shots"
  echo "== Screenshots: $shots"
  ls "$shots" | sed 's/^/   /'
fi

echo "== After the uninstall:"
python3 "$root/tools/sample-product.py" report "$deployment"
