#!/usr/bin/env bash
# bench/uninstall.sh [RUNS] [tavrin|pelloma]
#
# The uninstall's end-to-end time on the sample product: RUNS times (default 5) a fresh
# sandbox with the sample product installed and its processes started, then the real
# procedure (UninstallBench, as root, offscreen), both in one private PID namespace.
# Prints each run and the medians: total wall time, the 1-second pause, external commands,
# our own work, processes started (PIDs allocated in the namespace, less the bench's own
# threads) and peak memory.
# Goal: everything beyond the pause under 0.5 s.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5} brand=${2:-tavrin}
table=$root/Deployments/$([ "$brand" = pelloma ] && echo Pelloma || echo Tavrin).plist
build=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
work=$(mktemp -d "$build/bench-uninstall.XXXXXX")
trap 'rm -rf "$work"' EXIT
results=$work/results.jsonl
for i in $(seq "$runs"); do
  sandbox=$work/run$i/sandbox dep=$work/run$i/deployment
  export HOME=$sandbox/home/$(id -un) XDG_RUNTIME_DIR=$sandbox/run/user
  export XDG_CONFIG_HOME=$HOME/.config
  mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  BUILD_DIR=$build "$root/tools/make-deployment.sh" "$table" "$dep" "$sandbox" >/dev/null
  # The sample product is installed, uninstalled and cleaned up inside one private PID
  # namespace, so that the uninstall finds the product's processes and stops them there;
  # whatever is left ends with the namespace. The System Events agent is started on demand
  # by the uninstall, as on a user's machine. PIDS counts the pids the uninstall allocated
  # beyond its own (read between two cat runs).
  line=$(PATH=$build/bin:$PATH QT_QPA_PLATFORM=offscreen unshare -pf --mount-proc sh -c '
    python3 "$1/tools/sample-product.py" install "$3" >&2 || { echo install-failed; exit 1; }
    zvtool login-items quit-agent >/dev/null 2>&1
    before=$(cat /proc/sys/kernel/ns_last_pid)
    UninstallBench "$3"
    echo pids=$(( $(cat /proc/sys/kernel/ns_last_pid) - before - 2 ))
    python3 "$1/tools/sample-product.py" stop "$3" >/dev/null 2>&1
    zvtool login-items quit-agent >/dev/null 2>&1' sh "$root" "$build/bin" "$dep" 2>/dev/null) || true
  case $line in install-failed*|"") echo "uninstall.sh: run $i: the sample product was not installed or the bench failed" >&2; exit 1 ;; esac
  json=$(echo "$line" | head -1)
  pids=$(echo "$line" | sed -n 's/^pids=//p')
  echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin); d['pids']=$pids; print(json.dumps(d))" >> "$results"
done
python3 - "$results" <<'PY'
import json, statistics, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
for n, r in enumerate(rows, 1):
    print("run %d: total %.0f ms, pause %.0f, external %.0f, own %.0f, processes %d, peak %d KB, completed %s"
          % (n, r["total_ms"], r["pause_ms"], r["external_ms"], r["own_ms"], r["pids"] - r["threads_at_end"] + 1,
             r["peak_rss_kb"], r["completed"]))
med = lambda k: statistics.median(r[k] for r in rows)
beyond = statistics.median(r["total_ms"] - r["pause_ms"] for r in rows)
print("median: total %.0f ms = pause %.0f + external commands %.0f + own work %.0f; beyond the pause %.0f ms (goal < 500)"
      % (med("total_ms"), med("pause_ms"), med("external_ms"), med("own_ms"), beyond))
steps = sorted({k for r in rows for k in r["steps_ms"]})
print("median by step kind (ms): " + ", ".join("%s %.1f" % (k, statistics.median(r["steps_ms"].get(k, 0) for r in rows)) for k in steps))
print("processes started (median): %d; peak memory (median): %d KB" % (statistics.median(r["pids"] - r["threads_at_end"] + 1 for r in rows), med("peak_rss_kb")))
PY
