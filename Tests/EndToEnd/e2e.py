#!/usr/bin/env python3
"""End-to-end runs of a real deployment of the uninstaller in a real X window (Xvfb), driven
as a person would: the pointer clicks "Continue", the keyboard answers the alert "Yes"
(Tab, Space), the pointer clicks "Uninstall", the password (for a non-root administrator) is
typed into the real dialog, and "Close" ends the application. The page shown is read off the
step indicator's dots on the screen.

    e2e.py SOURCE_DIR BUILD_DIR BRAND CASE

CASE is "normal" (run as root), "user-password" (a non-root administrator types the right
password into the product's polkit agent), "user-password-sudo" (the same through sudo, with
no polkit authority), or a fault: "no-table", "missing-key", "damaged-schedules", "no-system-events",
"ignores-sigterm", "unremovable-file", "user-wrong-then-cancel", "user-cancel". The user cases
create an account with a password and a sudoers rule that requires it, and remove both at
the end; except "user-password-sudo" they run a system bus and polkitd of their own (on a
private /run/dbus, with the product's action file in a private actions folder). Every case checks that nothing
the uninstall could reach outside its deployment changed: the sandbox's other files, the
user's home folder, and every path of the table as it would be without the sandbox in front
(where a run that lost the sandbox would act); what the rest of the machine does meanwhile
(another account added, a package updated) is not this run's concern.
Prints one line per check and "N passed, N failed"; exit status 0 when nothing failed.
Must run as root inside a private mount namespace (unshare -m) under Xvfb.
"""
import json
import os
import re
import plistlib
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SRC, BUILD, BRAND, CASE = sys.argv[1:5]
BIN = os.path.join(BUILD, "bin")
TABLE = os.path.join(SRC, "Deployments", "Tavrin.plist" if BRAND == "tavrin" else "Pelloma.plist")
sys.path.insert(0, os.path.join(SRC, "tools"))
import importlib.util
module_spec = importlib.util.spec_from_file_location("sample_product", os.path.join(SRC, "tools", "sample-product.py"))
sample = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(sample)

passed = failed = 0
USER_CASES = ("user-password", "user-password-sudo", "user-wrong-then-cancel", "user-cancel")
POLKIT = CASE in USER_CASES and CASE != "user-password-sudo"
REFUSED = CASE in ("user-wrong-then-cancel", "user-cancel")


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
        print("ok   " + what)
    else:
        failed += 1
        print("FAIL " + what)
    sys.stdout.flush()


def run(*cmd, env=None, check_rc=False, **kw):
    r = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=120, **kw)
    if check_rc and r.returncode != 0:
        raise RuntimeError("%s: %s" % (cmd, r.stderr))
    return r


def states(paths):
    """Type, size and modification time of each of PATHS itself (None when absent)."""
    out = {}
    for p in paths:
        try:
            st = os.lstat(p)
            out[p] = (st.st_mode, st.st_size, st.st_mtime_ns)
        except OSError:
            out[p] = None
    return out


def listing(top, skip=()):
    """Path, type, size and modification time of everything below TOP."""
    out = {}
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames[:] = [d for d in dirnames if os.path.join(dirpath, d) not in skip]
        for name in dirnames + filenames:
            p = os.path.join(dirpath, name)
            if p in skip:
                continue
            try:
                st = os.lstat(p)
            except OSError:
                continue
            out[p] = (st.st_mode, st.st_size, st.st_mtime_ns)
    return out


# ---------------------------------------------------------------------------------------
# The sandbox: a deployment pointing into it, the sample product, the user's home, and
# files of other programs that must stay as they are.
work = tempfile.mkdtemp(prefix="e2e-%s-%s." % (BRAND, CASE), dir=BUILD)
sandbox = os.path.join(work, "sandbox")
deployment = os.path.join(work, "deployment")
shots = os.path.join(BUILD, "screenshots", "e2e", "%s-%s" % (BRAND, CASE))
shutil.rmtree(shots, ignore_errors=True)
os.makedirs(shots)
account = None
if CASE in USER_CASES:
    account = "zve2e%d" % os.getpid()
    password = "Pw-%d-e2e" % os.getpid()
    sudoers = "/etc/sudoers.d/zve2e-%s" % account


def remove_account():
    if account:
        run("userdel", account)
        if os.path.exists(sudoers):
            os.remove(sudoers)


# Accounts of earlier runs that were killed before they could remove theirs (a time-out) would
# stand among the administrators the password dialog offers.
for stale in [l.split(":")[0] for l in open("/etc/passwd") if os.geteuid() == 0 and re.match(r"zve2e\d+:", l)]:
    if stale != account:
        run("pkill", "-KILL", "-u", stale)  # such as the session bus its killed run left
        time.sleep(0.2)
        run("userdel", stale)
        if os.path.exists("/etc/sudoers.d/zve2e-" + stale):
            os.remove("/etc/sudoers.d/zve2e-" + stale)

import atexit
atexit.register(remove_account)
if account:
    # An administrator: in the administrators' group, with a sudoers rule of its own that
    # requires its password.
    run("useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", "--groups", "sudo", account, check_rc=True)
    subprocess.run(["chpasswd"], input="%s:%s\n" % (account, password), text=True, check=True)
    with open(sudoers, "w") as f:
        f.write("%s ALL=(ALL:ALL) ALL\n" % account)
    os.chmod(sudoers, 0o440)
user = account or pwd.getpwuid(os.getuid()).pw_name
home = os.path.join(sandbox, "home", user)
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
           XDG_RUNTIME_DIR=os.path.join(sandbox, "run", "user"), PATH=BIN + ":" + os.environ["PATH"])
env.pop("SESSION_MANAGER", None)
for d in (home, env["XDG_CONFIG_HOME"], env["XDG_RUNTIME_DIR"]):
    os.makedirs(d, exist_ok=True)
os.chmod(env["XDG_RUNTIME_DIR"], 0o700)

run(os.path.join(SRC, "tools", "make-deployment.sh"), TABLE, deployment, sandbox, env=dict(env, BUILD_DIR=BUILD), check_rc=True)
# From here on this process sees the sandbox's home, as the uninstaller will.
os.environ.update(env)
if account:
    os.environ["SAMPLE_USER"] = account
sample.install(deployment)
atexit.register(sample.stop, deployment)
run(os.path.join(BIN, "zvtool"), "login-items", "quit-agent", env=env)
if account:
    # The account runs the uninstaller: its home and runtime folder are its own; the product
    # is root's, with the folders the uninstall writes in open to the administrators' group.
    for d in (home, env["XDG_RUNTIME_DIR"]):
        run("chown", "-R", account, d, check_rc=True)
    for d in (work, sandbox, os.path.join(sandbox, "home"), os.path.join(sandbox, "run")):
        os.chmod(d, 0o755)
values = sample.load(deployment)
state = json.load(open(os.path.join(deployment, "sample-product.json")))
paths = sample.removal_paths(values)  # as the uninstall forms them

keep = os.path.join(sandbox, "keep")
for i in range(3):
    os.makedirs(os.path.join(keep, "d%d" % i), exist_ok=True)
    with open(os.path.join(keep, "d%d" % i, "f.txt"), "w") as f:
        f.write("other program's data %d\n" % i)
cwd = os.path.join(sandbox, "cwd")
os.makedirs(cwd)

# The fault, if any.
if CASE == "no-table":
    os.remove(os.path.join(deployment, "Localizable.plist"))
elif CASE == "missing-key":
    t = plistlib.load(open(os.path.join(deployment, "Localizable.plist"), "rb"))
    del t["ApplicationsFolder"]
    plistlib.dump(t, open(os.path.join(deployment, "Localizable.plist"), "wb"))
elif CASE == "damaged-schedules":
    data = open(values["SchedulerSettingsFile"], "rb").read()
    open(values["SchedulerSettingsFile"], "wb").write(data[: len(data) // 2])
elif CASE == "no-system-events":
    for name in ("SystemEvents",):
        p = os.path.join(deployment, name)
        if os.path.exists(p):
            os.chmod(p, 0o644)  # there, but it cannot be started
elif CASE == "ignores-sigterm":
    name = values["DaemonExecName"]
    os.kill(state["pids"][name], signal.SIGKILL)
    exe = os.path.join(values["ApplicationsFolder"], "bin", name)
    p = subprocess.Popen([name, "86400"], executable=exe, start_new_session=True,
                         preexec_fn=lambda: signal.signal(signal.SIGTERM, signal.SIG_IGN),
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    state["pids"][name] = p.pid
    json.dump(state, open(os.path.join(deployment, "sample-product.json"), "w"))
elif CASE == "unremovable-file":
    # The receipt's folder is a read-only mount: rm -rf fails there, even as root.
    folder = os.path.dirname(paths["RecieptFilePath"])
    run("mount", "--bind", folder, folder, check_rc=True)
    run("mount", "-o", "remount,ro,bind", folder, check_rc=True)

schedule_before = open(values["SchedulerSettingsFile"], "rb").read()
product_paths = set(paths.values()) | {values["UninstallerFilePath"], values["SchedulerSettingsFile"],
                                       os.path.dirname(values["UninstallProcessInstanceCommandOutputFilePath"])}
real_home = pwd.getpwuid(os.getuid()).pw_dir
unsandboxed = {v[len(sandbox):] for v in list(values.values()) + list(paths.values())
               if isinstance(v, str) and v.startswith(sandbox + "/")}
before = {"keep": listing(keep), "other vendor": listing(os.path.dirname(state["other_login_item"])),
          "cwd": listing(cwd), "home": listing(real_home, skip={os.path.join(real_home, ".cache")}),
          "the table's paths without the sandbox": states(unsandboxed)}
logins_before = run(os.path.join(BIN, "zvtool"), "login-items", "list", env=env).stdout
run(os.path.join(BIN, "zvtool"), "login-items", "quit-agent", env=env)

# ---------------------------------------------------------------------------------------
# Drive the real program.
geometry = {}
for line in run(os.path.join(BIN, "UninstallerDriver"), "--print-geometry",
                env=dict(env, QT_QPA_PLATFORM="offscreen")).stdout.splitlines():
    name, x, y = line.split()
    geometry[name] = (int(x), int(y))

if POLKIT:
    # The machine's system bus and polkitd, in this mount namespace only.
    actions = os.path.join(work, "polkit-actions")
    shutil.copytree("/usr/share/polkit-1/actions", actions)
    policy = open(os.path.join(BUILD, "share", "com.quillmarsh.uninstaller.policy")).read()
    at = policy.index('exec.path">') + len('exec.path">')
    policy = policy[:at] + os.path.join(BIN, "ZVPrivilegedTool") + policy[policy.index("<", at):]
    open(os.path.join(actions, "com.quillmarsh.uninstaller.policy"), "w").write(policy)
    os.chmod(work, 0o755)
    run("mount", "-t", "tmpfs", "tmpfs", "/run/dbus", check_rc=True)
    run("mount", "--bind", actions, "/usr/share/polkit-1/actions", check_rc=True)
    bus_pid = int(run("dbus-daemon", "--system", "--fork", "--print-pid", check_rc=True).stdout.split()[0])
    authority = subprocess.Popen(["/usr/lib/polkit-1/polkitd", "--no-debug"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    atexit.register(lambda: (authority.kill(), os.kill(bus_pid, signal.SIGTERM)))
    for _ in range(200):
        if "true" in run("gdbus", "call", "--system", "--dest", "org.freedesktop.DBus", "--object-path",
                         "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                         "org.freedesktop.PolicyKit1").stdout:
            break
        time.sleep(0.05)
    env.update(ZV_AUTHORIZATION_AGENT=os.path.join(BIN, "ZVAuthorizationAgent"),
               ZV_PRIVILEGED_TOOL=os.path.join(BIN, "ZVPrivilegedTool"))

command = [os.path.join(deployment, "Uninstaller")]
if account:
    os.chmod(cwd, 0o777)
    command = ["runuser", "-u", account, "--", "dbus-run-session", "--", "/usr/bin/env"] + \
        ["%s=%s" % (k, env[k]) for k in ("HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "DISPLAY", "PATH",
                                          "ZV_AUTHORIZATION_AGENT", "ZV_PRIVILEGED_TOOL") if k in env] + command
app = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def window(name, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        r = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % name)
        ids = r.stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.1)
    return None


def origin(win):
    g = dict(l.split("=") for l in run("xdotool", "getwindowgeometry", "--shell", win).stdout.split())
    return int(g["X"]), int(g["Y"])


def pixel(x, y):
    r = run("import", "-window", "root", "-crop", "1x1+%d+%d" % (x, y), "txt:-")
    for tok in r.stdout.split():
        if tok.startswith("#") and len(tok) >= 7:
            return tuple(int(tok[i:i + 2], 16) for i in (1, 3, 5))
    return (0, 0, 0)


def page(win):
    ox, oy = origin(win)
    for n in range(3):
        x, y = geometry["cell%d" % n]
        r, g, b = pixel(ox + x, oy + y)
        if b > r + 60:
            return n
    return None


def wait_page(win, n, timeout=60):
    end = time.time() + timeout
    while time.time() < end:
        if app.poll() is not None:
            return False
        if page(win) == n:
            return True
        time.sleep(0.2)
    return False


def click(win, name):
    ox, oy = origin(win)
    x, y = geometry[name]
    run("xdotool", "mousemove", str(ox + x), str(oy + y), "click", "1")


def shot(name):
    run("import", "-window", "root", os.path.join(shots, name))


main = window("Uninstaller")
check(main is not None, "the uninstaller's window appears")
if main:
    check(wait_page(main, 0, 20), "it opens on the welcome page")
    shot("1-welcome.png")
    click(main, "nextButton")
    title = values.get("ApplicationName", "ApplicationName") if CASE != "no-table" else "ApplicationName"
    alert = window(title)
    check(alert is not None, "pressing Continue shows the alert titled \"%s\"" % title)
    if alert:
        shot("2-alert.png")
        run("xdotool", "key", "Tab")
        time.sleep(0.2)
        run("xdotool", "key", "space")
    check(wait_page(main, 1, 20), "answering \"Yes\" opens the uninstall page")
    shot("3-uninstall.png")
    click(main, "nextButton")
    if account:
        dialog = window("Authenticate")
        check(dialog is not None, "the administrator's password dialog appears")
        if dialog:
            # The agent's window belongs to another program: give it the keyboard.
            run("xdotool", "windowfocus", "--sync", dialog)
            shot("3-password.png")
            if CASE == "user-wrong-then-cancel":
                run("xdotool", "type", "--delay", "30", "not-" + password)
                run("xdotool", "key", "Return")
                time.sleep(5)  # sudo and polkit pause after a wrong password
                check(window("Authenticate", 5) is not None, "after a wrong password the dialog asks again")
                shot("3-wrong-password.png")
            if REFUSED:
                run("xdotool", "key", "Escape")
            else:
                # Keys typed while the focus is still on its way to the agent's window are lost
                # on a loaded machine; the dialog then asks again, and the password is typed again.
                for attempt in range(3):
                    run("xdotool", "type", "--delay", "30", password)
                    run("xdotool", "key", "Return")
                    end = time.time() + 20
                    while time.time() < end and window("Authenticate", 0.2):
                        time.sleep(0.5)
                    retry = window("Authenticate", 0.2)
                    if not retry:
                        break
                    print("the password was not taken (attempt %d); typing it again" % (attempt + 1))
                    run("xdotool", "windowfocus", "--sync", retry)
                    time.sleep(1)
    if REFUSED:
        time.sleep(2)
        check(page(main) == 1 and app.poll() is None, "a refused password leaves the wizard on the uninstall page")
        shot("4-refused.png")
        # There is no way out of the uninstall page but going back: end the program itself
        # (not runuser or the session bus's runner, which would report their session's end).
        run("pkill", "-TERM", "-x", "-f", command[-1])
        if not account:
            app.terminate()
    else:
        check(wait_page(main, 2, 120), "\"Uninstall\" ends on the completion page")
        shot("4-completion.png")
        click(main, "nextButton")
try:
    rc = app.wait(timeout=30)
except subprocess.TimeoutExpired:
    # The program, not only its runners: it holds the output pipe read below.
    run("pkill", "-KILL", "-x", "-f", command[-1])
    app.kill()
    rc = None
out = app.stdout.read()
if REFUSED:
    # What runuser says about the program this harness ended is not the program's.
    out = "\n".join(l for l in out.splitlines() if l.strip() not in ("Terminated", "Session terminated, killing shell... ...killed."))
if not REFUSED:
    check(rc == 0, "\"Close\" ends the application (exit status %s)" % rc)
check(out.strip() == "", "the application printed nothing%s" % ("" if not out.strip() else ": " + out.strip()[:300]))

# ---------------------------------------------------------------------------------------
# What the uninstall did.
expect_removed = dict(paths)
if CASE == "no-table" or REFUSED:
    expect_removed = {}
    for key, path in paths.items():
        check(os.path.lexists(path), "%s is still there" % key)
if CASE == "missing-key":
    del expect_removed["ApplicationsFolder"]
    check(os.path.exists(values["ApplicationsFolder"]), "with its key missing, the application folder stays")
if CASE == "unremovable-file":
    check(os.path.exists(paths["RecieptFilePath"]), "the file on a read-only mount is still there")
    del expect_removed["RecieptFilePath"]
    run("umount", os.path.dirname(paths["RecieptFilePath"]))
for key, path in expect_removed.items():
    check(not os.path.lexists(path), "%s removed (%s)" % (key, path))

for name, pid in state["pids"].items():
    alive = sample.running(pid, name)
    if name == state["lookalike"]:
        check(alive, "the other vendor's look-alike %s still runs" % name)
    elif CASE == "no-table" or REFUSED:
        check(alive, "%s is left running (%s)" % (name, CASE))
    else:
        check(not alive, "%s stopped" % name)

def as_user(*cmd):
    """CMD as the user who ran the uninstaller (their login items, their agent)."""
    if not account:
        return run(*cmd, env=env)
    return run("runuser", "-u", account, "--", "dbus-run-session", "--", "/usr/bin/env",
               *["%s=%s" % (k, env[k]) for k in ("HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "PATH")], *cmd)


listed_run = as_user(os.path.join(BIN, "zvtool"), "login-items", "list")
check(listed_run.returncode == 0, "the login items can be listed afterwards (status %d%s)"
      % (listed_run.returncode, (": " + listed_run.stderr.strip()) if listed_run.stderr.strip() else ""))
logins_after = listed_run.stdout
listed = [json.loads(l)["path"] for l in logins_after.splitlines() if l.strip()]
check(os.path.realpath(state["other_login_item"]) in [os.path.realpath(p) for p in listed],
      "another vendor's login item survives")
product_items = [values["ApplicationExecPath"], values["MonitorExecPath"]]
for p in product_items:
    present = os.path.realpath(p) in [os.path.realpath(q) for q in listed]
    if CASE in ("no-system-events", "no-table") or REFUSED:
        check(present, "login item %s stays (%s)" % (p, CASE))
    else:
        check(not present, "login item %s removed" % p)

marker = values["UninstallerFilePath"] if CASE != "no-table" else os.path.join(cwd, "UninstallerFilePath")
if REFUSED:
    check(not os.path.exists(marker), "no marker is written")
else:
    try:
        content = plistlib.load(open(marker, "rb"))
    except Exception as e:  # reported as a failed check
        content = repr(e)
    check(content == {"KILLDAEMON": True}, "the marker holds only KILLDAEMON = true (%s)" % (content,))

schedule_after = open(values["SchedulerSettingsFile"], "rb").read()
if CASE in ("damaged-schedules", "no-table") or REFUSED:
    check(schedule_after == schedule_before, "the schedule list is left as it was")
else:
    r = run(os.path.join(BIN, "zvtool"), "schedules", "show", values["SchedulerSettingsFile"], env=env)
    statuses = [json.loads(l)["status"] for l in r.stdout.splitlines() if l.strip()]
    check(statuses == [0, 3, 0, 0], "schedules in progress were reset and stored: %s" % statuses)

after = {"keep": listing(keep), "other vendor": listing(os.path.dirname(state["other_login_item"])),
         "cwd": listing(cwd), "home": listing(real_home, skip={os.path.join(real_home, ".cache")}),
         "the table's paths without the sandbox": states(unsandboxed)}
for area in before:
    if area == "cwd" and CASE == "no-table":
        # Without a table the marker lands in the working folder under its key's name, and so
        # does the lock file beside the scratch listing (kept, so that no third run locks anew).
        added = set(after[area]) - set(before[area])
        check(added <= {os.path.join(cwd, "UninstallerFilePath"),
                        os.path.join(cwd, "UninstallProcessInstanceCommandOutputFilePath.lock")} and
              all(after[area].get(p) == v for p, v in before[area].items()),
              "the working folder only gained the marker: %s" % sorted(added))
        continue
    changed = sorted(p for p in set(before[area]) | set(after[area]) if before[area].get(p) != after[area].get(p))
    check(not changed, "nothing changed in %s%s" % (area, (": " + ", ".join(changed[:5])) if changed else ""))

sample.stop(deployment)
as_user(os.path.join(BIN, "zvtool"), "login-items", "quit-agent")
remove_account()
print("%d passed, %d failed" % (passed, failed))
if failed == 0:
    shutil.rmtree(work, ignore_errors=True)
sys.exit(0 if failed == 0 else 1)
