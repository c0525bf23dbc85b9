#!/usr/bin/env python3
"""zvtool uninstall plan, then run --report, against a sandboxed sample product of each brand.

    uninstall.py SOURCE_DIR BUILD_DIR

For each brand: a user without rights runs `uninstall run` first, which must change nothing
and exit 3 with its one-line message; then the plan (--json) is taken and `uninstall run
--report` runs as root. The plan must have named exactly what the run removed and stopped,
and the report must match what is left on disk and in the process list.
Must run as root in a private pid and mount namespace (unshare -pfm --mount-proc).
Prints one line per check and "N passed, N failed"; exit status 0 when nothing failed.
"""
import importlib.util
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import threading

SRC, BUILD = sys.argv[1:3]
ZVTOOL = os.path.join(BUILD, "bin", "zvtool")
module_spec = importlib.util.spec_from_file_location("sample_product", os.path.join(SRC, "tools", "sample-product.py"))
sample = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(sample)
passed = failed = 0


def check(ok, what):
    global passed, failed
    passed, failed = passed + bool(ok), failed + (not ok)
    print(("ok   " if ok else "FAIL ") + what, flush=True)


def run(*cmd, env=None):
    return subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=180)


def present(path):
    return os.path.lexists(path)


def alive(pid):
    return sample.running(pid)


def reap(pid):
    try:
        os.waitpid(pid, 0)
    except ChildProcessError:
        pass


def snapshot(top, pids):
    files = sorted((os.path.relpath(os.path.join(d, n), top), os.lstat(os.path.join(d, n)).st_mtime_ns)
                   for d, ds, fs in os.walk(top) for n in ds + fs)
    return files, sorted(p for p in pids if alive(p))


def targets(steps, action):
    return [(s["step"], t) for s in steps if s["action"] == action for t in s.get("targets", s.get("actedOn", []))]


for brand in ("tavrin", "pelloma"):
    # In /tmp, open for reading, so that a user without rights can reach the deployment and
    # its copy of zvtool wherever the build folder lies.
    work = tempfile.mkdtemp(prefix="uninstall-%s-" % brand)
    os.chmod(work, 0o755)
    sandbox, deployment = os.path.join(work, "sandbox"), os.path.join(work, "deployment")
    home = os.path.join(sandbox, "home", "root")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_RUNTIME_DIR=os.path.join(sandbox, "run", "user"), PATH=os.path.dirname(ZVTOOL) + ":" + os.environ["PATH"])
    for d in (env["XDG_CONFIG_HOME"], env["XDG_RUNTIME_DIR"]):
        os.makedirs(d, exist_ok=True)
    os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
    table = os.path.join(SRC, "Deployments", brand.capitalize() + ".plist")
    subprocess.run([os.path.join(SRC, "tools", "make-deployment.sh"), table, deployment, sandbox],
                   env=dict(env, BUILD_DIR=BUILD), check=True, capture_output=True)
    shutil.copy(ZVTOOL, deployment)  # beside its libZVCommon
    os.environ.update(env)
    sample.install(deployment)
    values = sample.load(deployment)
    try:
        state = json.load(open(os.path.join(deployment, "sample-product.json")))
        pids = list(state["pids"].values())
        # This process is their parent (and the namespace's init): reap them as they end, so
        # that a stopped one leaves no zombie behind in the listings.
        for pid in pids:
            threading.Thread(target=reap, args=(pid,), daemon=True).start()

        # A user without rights changes nothing and says so in one line.
        before = snapshot(sandbox, pids)
        r = run("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", os.path.join(deployment, "zvtool"),
                "uninstall", "run", deployment,
                env=dict(env, HOME="/nonexistent"))
        check(r.returncode == 3 and r.stdout == "" and len(r.stderr.splitlines()) == 1
              and "without asking" in r.stderr, "%s: without rights: exit 3, one line (%d: %r)" % (brand, r.returncode, r.stderr))
        check(snapshot(sandbox, pids) == before, "%s: without rights: nothing changed" % brand)

        r = run(ZVTOOL, "uninstall", "plan", deployment, "--json", env=env)
        check(r.returncode == 0, "%s: plan exits 0 (%s)" % (brand, r.stderr.strip()))
        plan = json.loads(r.stdout)
        r = run(ZVTOOL, "check-deployment", os.path.join(deployment, "Localizable.plist"), "--quiet", env=env)
        check(["%s: %s: %s" % (f["key"], f["category"], f["explanation"]) for f in plan["findings"]] == r.stdout.splitlines(),
              "%s: the plan's findings are check-deployment's" % brand)
        check(snapshot(sandbox, pids) == before, "%s: the plan changed nothing" % brand)

        report_path = os.path.join(work, "report.json")
        r = run(ZVTOOL, "uninstall", "run", deployment, "--report", report_path, env=env)
        check(r.returncode == 0, "%s: run exits 0 (%d: %s)" % (brand, r.returncode, r.stderr.strip()))
        check(stat.S_IMODE(os.stat(report_path).st_mode) == 0o600, "%s: report mode 0600" % brand)
        report = json.load(open(report_path))
        check([s["step"] for s in report["steps"]] == list(range(1, 33)), "%s: the report has the 32 steps" % brand)

        # Removals: removed exactly what existed, and it is gone.
        planned = {(n, t["value"]): t["exists"] for n, t in targets(plan["steps"], "remove")}
        done = {(n, t["value"]): t["outcome"] for n, t in targets(report["steps"], "remove")}
        check(planned.keys() == done.keys(), "%s: the run removed at the planned paths" % brand)
        wrong = [k for k in planned if done.get(k) != ("removed" if planned[k] else "was absent") or present(k[1])]
        check(not wrong and any(planned.values()), "%s: removed exactly what the plan found, nothing left: %s" % (brand, wrong))

        # Stops: what the plan listed under each name was stopped under that name, except the
        # daemons that the unload commands (steps 3 and 4) end first; nothing of it is left.
        planned, stopped = {}, {}
        for _, t in targets(plan["steps"], "stop"):
            planned.setdefault(t["value"], set()).update(p["pid"] for p in t["processes"])
        for _, t in targets(report["steps"], "stop"):
            stopped.setdefault(t["value"], set()).update(t["stopped"])
        unloaded = {values[k] for k in ("DaemonExecName", "WebManagementExecName")}
        wrong = [n for n in planned if not stopped[n] <= planned[n] or (n not in unloaded and stopped[n] != planned[n])]
        check(planned.keys() == stopped.keys() and not wrong, "%s: stopped what the plan listed: %s" % (brand, wrong))
        listed = set().union(*planned.values())
        check(listed == {pid for name, pid in state["pids"].items() if name != state["lookalike"]}
              and not any(alive(p) for p in listed), "%s: the plan listed every product process and no other; all stopped" % brand)
        check(alive(state["pids"][state["lookalike"]]), "%s: the other vendor's lookalike still runs" % brand)

        # Login items, schedules, marker.
        planned = {t["value"]: t["registered"] for n, t in targets(plan["steps"], "login-items") if n == 9}
        done = {t["value"]: t["outcome"] for n, t in targets(report["steps"], "login-items") if n == 9}
        check(planned and all(done[p] == ("removed" if reg else "was absent") for p, reg in planned.items()),
              "%s: login items as planned: %s %s" % (brand, planned, done))
        [(_, sched)] = [t for t in targets(plan["steps"], "reset-schedules") if t[0] == 20]
        [(_, reset)] = [t for t in targets(report["steps"], "reset-schedules") if t[0] == 20]
        check(reset["outcome"] == "%d records reset" % sched["inProgress"] and sched["inProgress"] == 2,
              "%s: schedules reset as planned (%s)" % (brand, reset["outcome"]))
        [(_, marker)] = targets(report["steps"], "marker")
        check(marker["outcome"] == "written" and present(marker["value"]), "%s: marker written" % brand)
        check(all(re.fullmatch(r"ran, exit status \d+", t["outcome"]) for _, t in targets(report["steps"], "command")),
              "%s: unload commands ran" % brand)
    finally:
        sample.stop(deployment)
        run(ZVTOOL, "login-items", "quit-agent", env=env)
        shutil.rmtree(work, ignore_errors=True)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
