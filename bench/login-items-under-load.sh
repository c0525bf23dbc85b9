#!/usr/bin/env bash
# Runs the login-item tests (each on private session buses of its own, where the System Events
# agent is started on demand and talked to at once) RUNS times while busy loops keep every core
# loaded, and counts the runs that failed. Races between the agent's start and the first sender
# show up here, rarely on an idle machine. Not a test: the count depends on the machine and its
# load.
#
#   bench/login-items-under-load.sh [RUNS]     (RUNS defaults to 40; needs a build in build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-40}
[ -f "$root/build/CTestTestfile.cmake" ] || { echo "login-items-under-load.sh: no build (scripts/build.sh)" >&2; exit 1; }

loaders=()
for _ in $(seq 1 $(( $(nproc) + 1 ))); do
    ( while :; do :; done ) &
    loaders+=($!)
done
trap 'kill "${loaders[@]}" 2>/dev/null || true' EXIT

failed=0
log=$(mktemp)
for i in $(seq 1 "$runs"); do
    if ! (cd "$root/build" && ctest -R 'LoginItemsTests' -j2 >"$log" 2>&1); then
        failed=$((failed + 1))
        echo "run $i failed:"
        grep -E 'FAIL!|Actual|Loc:' "$log" | head -6 | sed 's/^/    /'
    fi
done
rm -f "$log"
echo "login-item test runs under load: $runs, failed: $failed"
