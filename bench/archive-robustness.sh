#!/usr/bin/env bash
# A long seeded robustness run of the schedule list reader: N mutated and truncated copies of
# valid schedule list files (one laid out by the Mac, one written here) go through the reader,
# and every list that comes back through the record operations and a write and read again.
#   bench/archive-robustness.sh [N [SEED]]      (defaults: 100000, 20261205)
# Needs a build (scripts/build.sh). Prints the run's figures; exit status 0 when nothing
# crashed. Temporary files go to /dev/shm when it exists (the writer syncs every file it stores).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
count=${1:-100000}
seed=${2:-20261205}
[ -d /dev/shm ] && export TMPDIR=/dev/shm
export SCHEDULES_FIXTURES="$root/Tests/Schedules/fixtures"
export SCHEDULES_ROBUSTNESS_COUNT="$count" SCHEDULES_ROBUSTNESS_SEED="$seed"
start=$(date +%s)
"$build/bin/SchedulesRobustnessTest" mutatedAndTruncatedFiles 2>&1 | grep -E "robustness run|FAIL|Totals"
status=${PIPESTATUS[0]}
echo "elapsed: $(( $(date +%s) - start )) s, exit status $status"
exit "$status"
