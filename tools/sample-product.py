#!/usr/bin/env python3
"""A sample installation of the backup product, for trying the uninstaller and testing it.

    sample-product.py install DEPLOYMENT_DIR   install at the paths of DEPLOYMENT_DIR/Localizable.plist
    sample-product.py report  DEPLOYMENT_DIR   print what of it is there
    sample-product.py stop    DEPLOYMENT_DIR   stop what is left of its processes (clean-up)

The deployment's values say where everything goes (make it with make-deployment.sh and a
sandbox ROOT so that nothing outside the sandbox is touched). "~" means $HOME, and "%@"
the name of the user who will run the uninstaller ($SAMPLE_USER, by default the current
user). The product's programs are copies of /bin/sleep named after the
configured process names and started under those names; one program of another vendor with
a similar name runs beside them and must survive. Login items are registered through zvtool
(XDG_CONFIG_HOME decides where they live). The schedule list is a keyed archive in the
Mac's layout with records in progress. State (process ids) is kept in
DEPLOYMENT_DIR/sample-product.json.
"""
import grp
import json
import os
import plistlib
import pwd
import shutil
import signal
import subprocess
import sys
import time

PATH_KEYS = ["DaemonPlist", "WebDaemonPlist", "ApplicationsFolder", "RecieptFilePath",
             "SchedulerState", "SchedulerLoginInfo"]
USER_KEYS = ["ApplicationPreferenceFile", "MonitorUserDefaultsFile", "DaemonUserDefaultsFile",
             "ShortcutPath", "LoginInfo"]
PROCESS_KEYS = ["ApplicationExecName", "MonitorExecName", "DaemonExecName", "WebManagementExecName",
                "ExecuterName", "STunnelName", "SchedulerExecuterName", "SchedulerSTunnelName"]


def user_name():
    # The user who will run the uninstaller (SAMPLE_USER), by default the one installing.
    return os.environ.get("SAMPLE_USER") or pwd.getpwuid(os.getuid()).pw_name


def home():
    return os.environ.get("HOME") or pwd.getpwuid(os.getuid()).pw_dir


def standardize(path):
    if path.startswith("~"):
        path = home() + path[1:]
    return os.path.normpath(path) if path.startswith("/") else path


def load(deployment):
    with open(os.path.join(deployment, "Localizable.plist"), "rb") as f:
        return plistlib.load(f)


def removal_paths(values):
    """Every path the uninstall removes, as the uninstall forms it."""
    paths = {k: values[k] for k in PATH_KEYS}
    for k in USER_KEYS:
        p = values[k].replace("%@", user_name(), 1).replace("%%", "%")
        paths[k] = standardize(p) if k in ("ShortcutPath", "LoginInfo") else p
    paths["ApplicationStatusPath"] = standardize(values["ApplicationStatusPath"].replace("%%", "%"))
    return paths


def lookalike(name):
    # Another vendor's program whose name resembles the product's but does not contain it.
    return name[:-1]


def schedule_archive(class_name, statuses):
    """A keyed archive (binary property list, the Mac's layout) of schedule records."""
    UID = plistlib.UID
    objects = ["$null"]

    def add(obj):
        objects.append(obj)
        return UID(len(objects) - 1)

    array_index = len(objects)
    objects.append(None)
    cls_item = None
    uids = []
    for n, status in enumerate(statuses):
        zone = add({"NS.name": add("Europe/Berlin"), "$class": add({"$classname": "NSTimeZone", "$classes": ["NSTimeZone", "NSObject"]})})
        date = add({"NS.time": 818000000.0 + n * 3600, "NS.timezone": zone,
                    "$class": add({"$classname": "NSCalendarDate", "$classes": ["NSCalendarDate", "NSDate", "NSObject"]})})
        days = add({"NS.objects": [], "$class": add({"$classname": "NSMutableArray", "$classes": ["NSMutableArray", "NSArray", "NSObject"]})})
        if cls_item is None:
            cls_item = add({"$classname": class_name, "$classes": [class_name, "NSObject"]})
        record = {"$class": cls_item, "scheduleType": 0, "scheduleTime": date, "frequency": 2,
                  "status": status, "destination": add("Sample destination %d" % n),
                  "username": add("sample-user"), "emailids": add(""), "displayDesktopNotification": False,
                  "sendEmailNotification": False, "userAtServer": add(""), "serverName": add("backup.example"),
                  "password": add(""), "processReferenceFile": add(""), "isUseSSL": True,
                  "scheduleTimeSettings": 0, "selectedDaysForSchedule": days, "quotaServerName": add("")}
        if class_name == "TavrinScheduleItem":
            record.update({"tavrinUserName": add("sample-user"), "shouldStartMissedScheduleBackup": False,
                           "sendLogExtract": False, "notifyOnFailure": True, "isAutoSyncEnabled": False})
        uids.append(add(record))
    objects[array_index] = {"NS.objects": uids, "$class": add({"$classname": "NSMutableArray", "$classes": ["NSMutableArray", "NSArray", "NSObject"]})}
    return plistlib.dumps({"$archiver": "NSKeyedArchiver", "$version": 100000,
                           "$top": {"Schedules": UID(array_index)}, "$objects": objects},
                          fmt=plistlib.FMT_BINARY)


def write(path, data, mode=0o644):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())
    os.chmod(path, mode)


def zvtool(deployment, *args):
    tool = shutil.which("zvtool", path=os.pathsep.join([deployment, os.path.dirname(os.path.abspath(__file__)) + "/../build/bin", os.environ.get("PATH", "")]))
    if not tool:
        return None
    try:
        return subprocess.run([tool, *args], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None


def install(deployment):
    values = load(deployment)
    paths = removal_paths(values)
    brand = "tavrin" if values.get("ApplicationName") == "Tavrin for Mac" else "pelloma"
    app = values["ApplicationsFolder"]
    bindir = os.path.join(app, "bin")
    os.makedirs(bindir, exist_ok=True)
    # The product's programs, named after their process names.
    for key in PROCESS_KEYS:
        shutil.copy("/bin/sleep", os.path.join(bindir, values[key]))
    for key in ("ApplicationExecPath", "MonitorExecPath"):
        if not os.path.exists(values[key]):
            shutil.copy("/bin/sleep", values[key])
    ctl = os.path.join(bindir, brand + "ctl")
    write(ctl, "#!/bin/sh\n# Stops the daemon that a unit file starts: systemd where it runs, a signal elsewhere.\n"
               "[ \"$1\" = unload ] && [ -f \"$2\" ] || exit 1\n"
               "name=$(sed -n 's|^ExecStart=.*/\\([^/ ]*\\).*|\\1|p' \"$2\")\n"
               "if [ -d /run/systemd/system ] && command -v systemctl >/dev/null; then systemctl stop \"$(basename \"$2\")\" 2>/dev/null; fi\n"
               "[ -n \"$name\" ] && pkill -TERM -x \"$name\" 2>/dev/null\nexit 0\n", 0o755)
    write(os.path.join(app, "share", "README"), "Sample product files.\n")
    write(values["DaemonPlist"], "[Service]\nExecStart=%s\n" % os.path.join(bindir, values["DaemonExecName"]))
    write(values["WebDaemonPlist"], "[Service]\nExecStart=%s\n" % os.path.join(bindir, values["WebManagementExecName"]))
    for key in ("RecieptFilePath", "SchedulerLoginInfo"):
        write(paths[key], plistlib.dumps({"sample": key}))
    write(paths["SchedulerState"], "1")
    for key in USER_KEYS + ["ApplicationStatusPath"]:
        write(paths[key], plistlib.dumps({"sample": key}))
    # The folders the uninstaller writes in with the rights of the administrator who runs it
    # (the marker, the scratch process listings, the schedule list it stores again) belong to
    # the administrators' group and are writable by it, but by nobody else.
    shared = [os.path.dirname(values[k]) for k in ("UninstallProcessInstanceCommandOutputFilePath",
                                                   "UninstallerFilePath", "SchedulerSettingsFile")]
    for d in shared:
        os.makedirs(d, exist_ok=True)
    klass = "TavrinScheduleItem" if brand == "tavrin" else "ZVScheduleItem"
    write(values["SchedulerSettingsFile"], schedule_archive(klass, [1, 3, 1, 0]), 0o666)
    if os.getuid() == 0:
        try:
            admins = grp.getgrnam("sudo").gr_gid
        except KeyError:
            admins = 0
        for d in shared:
            os.chown(d, 0, admins)
            os.chmod(d, 0o2775)

    # Another vendor's program and login item, which must survive.
    other = os.path.join(os.path.dirname(app), "OtherVendor", "bin", "OtherApp")
    os.makedirs(os.path.dirname(other), exist_ok=True)
    shutil.copy("/bin/sleep", other)

    pids = {}
    names = [values[k] for k in PROCESS_KEYS] + [lookalike(values["DaemonExecName"])]
    for name in names:
        exe = os.path.join(bindir, name)
        if not os.path.exists(exe):
            shutil.copy("/bin/sleep", exe)
        proc = subprocess.Popen([name, "86400"], executable=exe, start_new_session=True,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pids[name] = proc.pid
    logins = []
    for path in (values["ApplicationExecPath"], values["MonitorExecPath"], other):
        r = zvtool(deployment, "login-items", "add", path)
        logins.append(path if r is not None and r.returncode == 0 else None)
    state = {"pids": pids, "lookalike": lookalike(values["DaemonExecName"]), "other_login_item": other,
             "login_items_registered": [p for p in logins if p]}
    with open(os.path.join(deployment, "sample-product.json"), "w") as f:
        json.dump(state, f)


def running(pid, name=None):
    """Whether PID runs (not a zombie); with NAME, whether it is still that program: an id
    freed by a stop can be taken by another process at once."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return False
    comm, rest = stat.split("(", 1)[1].rsplit(")", 1)
    return rest.split()[0] not in ("Z", "X") and (name is None or comm == os.path.basename(name)[:15])


def report(deployment):
    values = load(deployment)
    state = json.load(open(os.path.join(deployment, "sample-product.json")))
    print("  files:")
    for key, path in removal_paths(values).items():
        print("    %-26s %-8s %s" % (key, "present" if os.path.lexists(path) else "gone", path))
    print("  processes:")
    for name, pid in state["pids"].items():
        tag = " (another vendor's)" if name == state["lookalike"] else ""
        print("    %-26s %-8s pid %d%s" % (name, "running" if running(pid) else "gone", pid, tag))
    r = zvtool(deployment, "login-items", "list")
    print("  login items:")
    if r is None or r.returncode != 0:
        print("    (not available: %s)" % ((r.stderr.strip() if r else "") or "zvtool login-items"))
    else:
        lines = [l for l in r.stdout.splitlines() if l.strip()]
        for l in lines:
            print("    " + l)
        if not lines:
            print("    (none)")
    marker = values["UninstallerFilePath"]
    print("  stop-request marker:")
    if os.path.exists(marker):
        try:
            print("    %s: %s" % (marker, plistlib.load(open(marker, "rb"))))
        except Exception as e:  # a damaged marker is reported, not fatal
            print("    %s: unreadable (%s)" % (marker, e))
    else:
        print("    %s: none" % marker)
    print("  schedules (%s):" % values["SchedulerSettingsFile"])
    r = zvtool(deployment, "schedules", "show", values["SchedulerSettingsFile"])
    if r is not None and r.returncode == 0:
        for l in r.stdout.splitlines():
            rec = json.loads(l)
            print("    %s status %s (%s)" % (rec.get("class"), rec.get("status"), rec.get("statusString") or "none"))
    else:
        try:
            arch = plistlib.load(open(values["SchedulerSettingsFile"], "rb"))
            objs = arch["$objects"]
            for u in objs[arch["$top"]["Schedules"].data]["NS.objects"]:
                rec = objs[u.data]
                print("    %s status %s" % (objs[rec["$class"].data]["$classname"], rec.get("status")))
        except Exception as e:
            print("    unreadable (%s)" % e)


def stop(deployment):
    try:
        state = json.load(open(os.path.join(deployment, "sample-product.json")))
    except OSError:
        return
    for pid in state["pids"].values():
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    for path in state.get("login_items_registered", []):
        zvtool(deployment, "login-items", "remove", path)


def main(argv):
    if len(argv) != 3 or argv[1] not in ("install", "report", "stop"):
        print("usage: sample-product.py install|report|stop DEPLOYMENT_DIR", file=sys.stderr)
        return 2
    {"install": install, "report": report, "stop": stop}[argv[1]](argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
