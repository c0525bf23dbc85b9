#!/usr/bin/env python3
"""The System Events agent's memory and CPU while hostile clients talk to it over the bus.

Starts a private session bus with the build's service file, has the bus start the agent, then
runs, one after the other, with raw D-Bus clients of this script's own (plain sockets: the
protocol's bytes written by hand, so a client can misbehave in ways a library would not):

  never-reads   one client sends 100,000 calls to the agent, then 200,000 more, and never
                reads a reply;
  large-frames  20 clients each announce a 100 MB call and send 1 MB of it, then stall;
                then 5 clients each send a whole call of 100 MB;
  idle          1,100 clients connect, say Hello and stay idle for 5 s.

After each, once the agent has worked off what it was sent, it prints the agent's resident memory (VmRSS), its peak (VmHWM), the CPU time it
used during the scenario, and whether it still answers a call (with the time the answer took).
Not a test: the figures depend on the machine. Needs a build (scripts/build.sh).

    bench/agent-under-hostile-clients.py [BUILD_DIR]      (BUILD_DIR defaults to build/)
"""
import os
import resource
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
AGENT_NAME = "org.zvuninstaller.AppleEvents.sevs"
AGENT_PATH = "/org/zvuninstaller/AppleEvents"
AGENT_INTERFACE = "org.zvuninstaller.AppleEvents"


def pad(length, alignment):
    return b"\0" * ((alignment - length % alignment) % alignment)


def call_message(serial, destination, path, interface, member, signature="", body=b"", body_length=None):
    """A METHOD_CALL message (little-endian) as bytes; BODY_LENGTH may claim more than BODY."""
    fields = b""
    for code, kind, value in ((1, "o", path), (2, "s", interface), (3, "s", member), (6, "s", destination),
                              (8, "g", signature)):
        if kind == "g" and not value:
            continue
        fields += pad(len(fields), 8) + bytes([code, 1]) + kind.encode() + b"\0"
        data = value.encode()
        if kind == "g":
            fields += bytes([len(data)]) + data + b"\0"
        else:
            fields += pad(len(fields), 4) + struct.pack("<I", len(data)) + data + b"\0"
    length = len(body) if body_length is None else body_length
    header = struct.pack("<BBBBII", ord("l"), 1, 0, 1, length, serial) + struct.pack("<I", len(fields)) + fields
    return header + pad(len(header), 8) + body


def byte_array(data):
    return struct.pack("<I", len(data)) + data


class RawClient:
    """One connection to the bus, authenticated (EXTERNAL) and registered (Hello)."""

    def __init__(self, socket_path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(socket_path)
        self.sock.sendall(b"\0AUTH EXTERNAL " + str(os.getuid()).encode().hex().encode() + b"\r\n")
        if not self.sock.recv(4096).startswith(b"OK"):
            raise RuntimeError("bus refused authentication")
        self.sock.sendall(b"BEGIN\r\n")
        self.serial = 1
        self.send_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello")

    def send_call(self, destination, path, interface, member, signature="", body=b"", body_length=None):
        self.serial += 1
        self.sock.sendall(call_message(self.serial, destination, path, interface, member, signature, body,
                                       body_length))

    def send_to_agent(self, payload):
        self.send_call(AGENT_NAME, AGENT_PATH, AGENT_INTERFACE, "Send", "ay", byte_array(payload))

    def close(self):
        self.sock.close()


def bus_call(address, *args):
    return subprocess.run(["dbus-send", "--bus=" + address, "--print-reply", "--reply-timeout=60000"] + list(args),
                          capture_output=True, text=True)


def agent_answers(address):
    """Seconds a call to the agent took to be answered (an error reply counts), or None."""
    start = time.monotonic()
    result = bus_call(address, "--dest=" + AGENT_NAME, AGENT_PATH, AGENT_INTERFACE + ".Send", "array:byte:0")
    elapsed = time.monotonic() - start
    answered = result.returncode == 0 or "not an Apple Event" in result.stderr
    return elapsed if answered else None


def status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    with open(f"/proc/{pid}/stat") as f:
        stat = f.read().rsplit(")", 1)[1].split()
    ticks = int(stat[11]) + int(stat[12])
    return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0]), ticks / os.sysconf("SC_CLK_TCK")


def main():
    # A time-out's SIGTERM ends the run through the cleanup below (the private bus ends, and
    # with it the agent).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    service = os.path.join(BUILD, "share/dbus-1/services", AGENT_NAME + ".service")
    if not os.path.exists(service):
        sys.exit(f"agent-under-hostile-clients.py: {service} missing (scripts/build.sh)")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
    work = tempfile.mkdtemp(prefix="zv-agent-bench.")
    daemon_pid = None
    try:
        services = os.path.join(work, "share/dbus-1/services")
        os.makedirs(services)
        shutil.copy(service, services)
        for name in ("config", "runtime", "home"):
            os.makedirs(os.path.join(work, name))
        env = dict(os.environ, XDG_DATA_DIRS=os.path.join(work, "share"), XDG_DATA_HOME=os.path.join(work, "share"),
                   XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_RUNTIME_DIR=os.path.join(work, "runtime"),
                   HOME=os.path.join(work, "home"))
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1",
                              "--address=unix:dir=" + work], env=env, capture_output=True, text=True, check=True)
        address, pid_line = out.stdout.split()
        daemon_pid = int(pid_line)
        socket_path = address.split("path=", 1)[1].split(",", 1)[0]

        bus_call(address, "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus.StartServiceByName", "string:" + AGENT_NAME, "uint32:0")
        reply = bus_call(address, "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + AGENT_NAME)
        agent = int(reply.stdout.split()[-1])
        print(f"agent {agent} on a private bus; load average {os.getloadavg()[0]:.2f}")
        print(f"{'after':<40} {'VmRSS KB':>9} {'VmHWM KB':>9} {'CPU s':>7}  answers")

        def settle():
            # Until the agent has worked off what it was sent (its CPU time stops growing).
            last = status(agent)[2]
            for _ in range(120):
                time.sleep(1)
                now = status(agent)[2]
                if now == last:
                    return
                last = now

        def report(label, before_cpu):
            settle()
            rss, hwm, cpu = status(agent)
            answer = agent_answers(address)
            shown = f"yes, in {answer * 1000:.0f} ms" if answer is not None else "NO"
            print(f"{label:<40} {rss:>9} {hwm:>9} {cpu - before_cpu:>7.2f}  {shown}")

        report("start", status(agent)[2])

        cpu = status(agent)[2]
        greedy = RawClient(socket_path)
        greedy.sock.setblocking(True)
        for _ in range(100_000):
            greedy.send_to_agent(b"x" * 16)
        report("never-reads (100,000 calls)", cpu)
        cpu = status(agent)[2]
        for _ in range(200_000):
            greedy.send_to_agent(b"x" * 16)
        report("never-reads (200,000 calls more)", cpu)

        cpu = status(agent)[2]
        stalled = []
        for _ in range(20):
            client = RawClient(socket_path)
            body = byte_array(b"\0" * 1_000_000)
            client.send_call(AGENT_NAME, AGENT_PATH, AGENT_INTERFACE, "Send", "ay", body[:1_000_000],
                             body_length=100_000_000 + 4)
            stalled.append(client)
        time.sleep(2)
        report("large-frames: 20 x 100 MB, 1 MB sent", cpu)
        cpu = status(agent)[2]
        whole = []
        for _ in range(5):
            client = RawClient(socket_path)
            client.send_to_agent(b"\0" * 100_000_000)
            whole.append(client)
        time.sleep(5)
        report("large-frames: 5 x 100 MB, whole", cpu)

        cpu = status(agent)[2]
        idle = [RawClient(socket_path) for _ in range(1_100)]
        time.sleep(5)
        report("idle (1,100 connections, 5 s)", cpu)
        for client in idle + whole + stalled + [greedy]:
            client.close()
        time.sleep(1)
        report("all hostile clients gone", status(agent)[2])
    finally:
        if daemon_pid:
            try:
                os.kill(daemon_pid, 15)
            except ProcessLookupError:
                pass
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
