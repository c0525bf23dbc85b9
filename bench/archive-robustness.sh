#!/usr/bin/env bash
# A long seeded robustness run of the schedule list reader: N mutated and truncated copies of
# valid schedule list files (one laid out by the Mac, one written here) go through the reader,
# and every list that comes back through the record operations and a write and read again.
#   bench/archive-robustness.sh [N [SEED]]      (defaults: 100000, 20261205)
# Needs a build (scripts/build.sh, or the target ArchiveRobustness). Prints the run's figures;
# exit status 0 when nothing crashed. Temporary files go to /dev/shm when it exists.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
count=${1:-100000}
seed=${2:-20261205}
[ -d /dev/shm ] && export TMPDIR=/dev/shm
start=$(date +%s)
status=0
"$build/bin/ArchiveRobustness" "$count" "$seed" || status=$?
echo "elapsed: $(( $(date +%s) - start )) s, exit status $status"
exit "$status"
