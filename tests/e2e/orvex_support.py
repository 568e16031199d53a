"""Runs the main server on a fresh copy of the default installation (dist/) in a temporary
folder. The server finds its site through its own path, so every site gets its own copy of the
program in bin/."""

import os
import re
import shutil
import signal
import socket
import subprocess
import threading
import time
import unittest

from harness import BIN_DIR, RawClient, TempDirTestCase, binary

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.path.join(REPO, "dist")
SITE_PARTS = ("etc", "fs", "ftp-data", "keys", "site")
GREETING = ["220- Welcome to Orvex.", "220 Orvex FTP server ready."]
LISTENING = re.compile(r"Listening for FTP connections on port (\d+)\.")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_port_run(count):
    """The first of `count` consecutive loopback ports that are free right now."""
    base = 43000 + (os.getpid() % 500) * 20
    while base < 64000:
        socks = []
        try:
            for p in range(base, base + count):
                s = socket.socket()
                socks.append(s)
                s.bind(("127.0.0.1", p))
            return base
        except OSError:
            base += count + 3
        finally:
            for s in socks:
                s.close()
    raise unittest.SkipTest("no free port range")


class OrvexProcess:
    """A running orvex; its console output is collected by a thread so the pipe never fills."""

    def __init__(self, argv, env=None, cwd=None):
        self.proc = subprocess.Popen(
            argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT)
        self.lines = []
        # Grows in place: a server that logs for minutes (a bench's thousands of sessions) would
        # otherwise have every chunk copy all that came before it.
        self.raw = bytearray()
        self._keep = True
        self._cond = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        buf = b""
        while True:
            chunk = self.proc.stdout.read1(65536)
            if not chunk:
                break
            if not self._keep:
                continue
            with self._cond:
                self.raw += chunk
                buf += chunk
                while b"\n" in buf:
                    line, buf = buf.split(b"\n", 1)
                    self.lines.append(line.decode(errors="replace").rstrip("\r"))
                self._cond.notify_all()
        with self._cond:
            if buf:
                self.lines.append(buf.decode(errors="replace"))
            self._cond.notify_all()

    def drain_unread(self):
        """From now on the output is drained without being kept: a bench's thousands of sessions
        would have this process parse their log lines while it measures."""
        self._keep = False

    def messages(self):
        """The program-log text of every line (after the date field)."""
        with self._cond:
            return [line.split(";", 1)[1] if ";" in line else line for line in self.lines]

    def wait_for(self, pattern, timeout=15):
        """The first match of `pattern` in an output line; fails on time-out or early exit."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for line in self.lines:
                    m = rx.search(line)
                    if m:
                        return m
                left = deadline - time.monotonic()
                if left <= 0 or (not self._reader.is_alive() and self.proc.poll() is not None):
                    raise AssertionError(f"no line matching {pattern!r}: {self.lines[-40:]}")
                self._cond.wait(min(left, 0.2))

    def ready(self, timeout=20):
        return int(self.wait_for(LISTENING.pattern, timeout).group(1))

    def wait(self, timeout=20):
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"orvex did not end in {timeout} s: {self.lines[-20:]}")
        self._close()
        return code

    def _close(self):
        self._reader.join(5)
        if not self._reader.is_alive():
            self.proc.stdout.close()

    def stop(self, sig=signal.SIGTERM, timeout=20):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.wait(timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._close()


def user_file(group="users", flags="", ips=("*",), general="0 0 0 0", logins="0 0 -1 -1",
              timeframe="0 0", start_dir="", time_line="0 0 0 0", idle=0, ratio=0, credits=0,
              slots="0 0", tagline="none", permissions="lvcpstduoamnrwx", stats=None,
              nuke="0 0 0", comment="test account"):
    """The text of a user file with the given fields; `stats` maps ALLUP ... MONTHDN to
    (files, KB, seconds)."""
    stats = stats or {}
    lines = [
        f"USER {comment}", f"GENERAL {general}", f"PERMISSIONS {permissions}",
        f"LOGINS {logins}", f"TIMEFRAME {timeframe}", f"FLAGS {flags}", f"RATIO {ratio}",
        f"CREDITS {credits}", f"TAGLINE {tagline}", f"DIR {start_dir}",
    ]
    for key in ("ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN"):
        lines.append("%s %d %d %d" % ((key,) + tuple(stats.get(key, (0, 0, 0)))))
    lines += [f"TIME {time_line}", f"NUKE {nuke}", f"SLOTS {slots}", f"USET {idle}",
              f"GROUP {group}"]
    lines += [f"IP {ip}" for ip in ips]
    return "\n".join(lines) + "\n"


class OrvexSite:
    def __init__(self, tmp):
        self.root = os.path.join(tmp, "orvex")
        os.makedirs(os.path.join(self.root, "bin"))
        for part in SITE_PARTS:
            shutil.copytree(os.path.join(DIST, part), os.path.join(self.root, part))
        self.program = os.path.join(self.root, "bin", "orvex")
        shutil.copy2(binary("orvex"), self.program)
        self.set_conf(rootpath=self.root + "/", server_port="0", server_sslport="0")

    def path(self, rel):
        return os.path.join(self.root, rel)

    def read(self, rel):
        with open(self.path(rel), errors="replace") as f:
            return f.read()

    def write(self, rel, text):
        path = self.path(rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # Written beside the target and renamed, so the server never reads half a file.
        tmp = path + ".part"
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, path)

    def remove(self, rel):
        os.remove(self.path(rel))

    def set_conf(self, **keys):
        """Replaces each key's lines (None removes them); new keys are appended."""
        lines = self.read("etc/orvex.conf").splitlines()
        out = []
        for line in lines:
            words = line.split()
            if words and words[0] in keys:
                continue
            out.append(line)
        for key, value in keys.items():
            if value is not None:
                out.append(f"{key} {value}")
        self.write("etc/orvex.conf", "\n".join(out) + "\n")

    def set_password(self, user, password):
        subprocess.run([binary("orvex-passwd"), self.root, user, password], check=True,
                       stdout=subprocess.DEVNULL, timeout=30)

    def make_keys(self):
        subprocess.run([binary("orvex-keys"), self.root], check=True, stdout=subprocess.DEVNULL,
                       timeout=60)

    def start(self, args=("-d",), env=None, cwd=None):
        return OrvexProcess([self.program, *args], env=env, cwd=cwd)


class OrvexCase(TempDirTestCase):
    """One site per test; `self.server` is started by `serve()`."""

    admin_password = "Adm1nPass"

    def setUp(self):
        super().setUp()
        self.site = OrvexSite(self.tmp)
        self.site.set_password("orvex", self.admin_password)
        self.server = None

    def serve(self, **kw):
        self.server = self.site.start(**kw)
        self.addCleanup(self.server.kill)
        self.port = self.server.ready()
        return self.server

    def connect(self, port=None, timeout=10):
        client = RawClient(port or self.port, timeout=timeout)
        self.addCleanup(client.close)
        return client

    def login(self, user="orvex", password=None, client=None, greeted=False):
        client = client or self.connect()
        if not greeted:
            client.reply()
        self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
        client.send(f"PASS {password or self.admin_password}\r\n")
        self.assertEqual(client.reply()[-1], f"230 User {user} logged in.")
        return client

    def eventually(self, check, timeout=12, step=0.25):
        return eventually(check, timeout, step)


def eventually(check, timeout=12, step=0.25):
    """Polls `check` until it returns a true value or the time is up."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)
