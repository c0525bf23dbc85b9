#!/usr/bin/env python3
"""uninstall.py SOURCE_DIR BUILD_DIR, as root in a private pid and mount namespace. Each brand's sample
table made a real installation's deployment passes check-deployment; in a sandbox with the sample
product, zvtool uninstall without rights changes nothing, and plan names what run removes and stops."""
import contextlib, importlib.util, json, os, re, shutil, stat, subprocess, sys, tempfile, threading

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


def reap(pid):
    with contextlib.suppress(ChildProcessError):
        os.waitpid(pid, 0)


def snapshot(top, pids):
    return (sorted((os.path.relpath(os.path.join(d, n), top), os.lstat(os.path.join(d, n)).st_mtime_ns)
                   for d, ds, fs in os.walk(top) for n in ds + fs), sorted(p for p in pids if sample.running(p)))


def targets(steps, action, step=None):
    return [t for s in steps if s["action"] == action and step in (None, s["step"]) for t in s.get("targets", s.get("actedOn", []))]


for brand in ("Tavrin", "Pelloma"):
    # In /tmp, open for reading, so that a user without rights reaches the deployment and its zvtool.
    work = tempfile.mkdtemp(prefix="uninstall-%s-" % brand)
    os.chmod(work, 0o755)
    sandbox, deployment = os.path.join(work, "sandbox"), os.path.join(work, "deployment")
    home = os.path.join(sandbox, "home", "root")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_RUNTIME_DIR=os.path.join(sandbox, "run", "user"), PATH=os.path.dirname(ZVTOOL) + ":" + os.environ["PATH"])
    os.makedirs(env["XDG_CONFIG_HOME"])
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    table = os.path.join(SRC, "Deployments", brand + ".plist")
    for out, root in ((os.path.join(work, "real"), ""), (deployment, sandbox)):
        subprocess.run([os.path.join(SRC, "tools", "make-deployment.sh"), table, out, root],
                       env=dict(env, BUILD_DIR=BUILD), check=True, capture_output=True)
        values = open(os.path.join(out, "Localizable.plist")).read()
        check(os.access(os.path.join(out, "Uninstaller"), os.X_OK) and os.path.isfile(os.path.join(out, "Info.plist"))
              and "@ROOT@" not in values and ("<string>%s/opt/" % root) in values, "%s: deployment in %r" % (brand, root))
    r = run(ZVTOOL, "check-deployment", "--quiet", os.path.join(work, "real", "Localizable.plist"))
    check((r.returncode, r.stdout) == (0, ""), "%s: the real installation's table passes the check: %s" % (brand, r.stdout))
    shutil.copy(ZVTOOL, deployment)  # beside its libZVCommon
    os.environ.update(env)
    sample.install(deployment)
    values = sample.load(deployment)
    try:
        state = json.load(open(os.path.join(deployment, "sample-product.json")))
        pids = list(state["pids"].values())
        for pid in pids:  # this process is their parent (the namespace's init): reaped, they leave no zombie
            threading.Thread(target=reap, args=(pid,), daemon=True).start()
        before = snapshot(sandbox, pids)
        r = run("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", os.path.join(deployment, "zvtool"),
                "uninstall", "run", deployment, env=dict(env, HOME="/nonexistent"))
        check(r.returncode == 3 and r.stdout == "" and len(r.stderr.splitlines()) == 1 and "without asking" in r.stderr
              and snapshot(sandbox, pids) == before, "%s: without rights: exit 3, one line, nothing changed (%r)" % (brand, r.stderr))

        r = run(ZVTOOL, "uninstall", "plan", deployment, "--json", env=env)
        plan = json.loads(r.stdout)
        findings = run(ZVTOOL, "check-deployment", os.path.join(deployment, "Localizable.plist"), "--quiet", env=env).stdout
        check(r.returncode == 0 and ["%(key)s: %(category)s: %(explanation)s" % f for f in plan["findings"]] == findings.splitlines()
              and snapshot(sandbox, pids) == before, "%s: the plan changed nothing; its findings are the check's" % brand)

        report_path = os.path.join(work, "report.json")
        r = run(ZVTOOL, "uninstall", "run", deployment, "--report", report_path, env=env)
        report = json.load(open(report_path))
        check(r.returncode == 0 and stat.S_IMODE(os.stat(report_path).st_mode) == 0o600
              and [s["step"] for s in report["steps"]] == list(range(1, 33)), "%s: run exits 0, report 0600 with 32 steps" % brand)
        # Removals: removed exactly what existed, and it is gone.
        planned = {(n["step"], t["value"]): t["exists"] for n in plan["steps"] if n["action"] == "remove" for t in n["targets"]}
        done = {(n["step"], t["value"]): t["outcome"] for n in report["steps"] if n["action"] == "remove" for t in n["actedOn"]}
        wrong = [k for k in planned if done.get(k) != ("removed" if planned[k] else "was absent") or os.path.lexists(k[1])]
        check(planned.keys() == done.keys() and not wrong and any(planned.values()), "%s: removed as planned: %s" % (brand, wrong))
        # Stops: what the plan listed under a name was stopped under it, except the daemons that
        # the unload commands (steps 3 and 4) may end first; nothing of it is left.
        planned, stopped = {}, {}
        for t in targets(plan["steps"], "stop"):
            planned.setdefault(t["value"], set()).update(p["pid"] for p in t["processes"])
        for t in targets(report["steps"], "stop"):
            stopped.setdefault(t["value"], set()).update(t["stopped"])
        unloaded = {values[k] for k in ("DaemonExecName", "WebManagementExecName")}
        wrong = [n for n in planned if not stopped[n] <= planned[n] or (n not in unloaded and stopped[n] != planned[n])]
        listed = set().union(*planned.values())
        check(planned.keys() == stopped.keys() and not wrong and not any(sample.running(p) for p in listed)
              and listed == {pid for name, pid in state["pids"].items() if name != state["lookalike"]}
              and sample.running(state["pids"][state["lookalike"]]),
              "%s: stopped every product process the plan listed, and the other vendor's lookalike runs: %s" % (brand, wrong))
        planned = {t["value"]: t["registered"] for t in targets(plan["steps"], "login-items", 9)}
        done = {t["value"]: t["outcome"] for t in targets(report["steps"], "login-items", 9)}
        check(planned and all(done[p] == ("removed" if reg else "was absent") for p, reg in planned.items()),
              "%s: login items as planned: %s %s" % (brand, planned, done))
        [sched], [reset] = targets(plan["steps"], "reset-schedules", 20), targets(report["steps"], "reset-schedules", 20)
        check(reset["outcome"] == "%d records reset" % sched["inProgress"] and sched["inProgress"] == 2,
              "%s: schedules reset as planned (%s)" % (brand, reset["outcome"]))
        [marker] = targets(report["steps"], "marker")
        check(marker["outcome"] == "written" and os.path.lexists(marker["value"])
              and all(re.fullmatch(r"ran, exit status \d+", t["outcome"]) for t in targets(report["steps"], "command")),
              "%s: marker written, unload commands ran" % brand)
    finally:
        sample.stop(deployment)
        run(ZVTOOL, "login-items", "quit-agent", env=env)
        shutil.rmtree(work, ignore_errors=True)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
