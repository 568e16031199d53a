"""Starts the real server binaries for end-to-end tests and talks to them."""

import ftplib
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

BIN_DIR = os.environ.get(
    "ORVEX_BIN_DIR",
    os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin"))


class FTP_TLS(ftplib.FTP_TLS):
    """ftplib's TLS client whose data connections resume the control connection's TLS session,
    which the server requires by default (the plain class starts a new session on each)."""

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        if self._prot_p:
            conn = self.context.wrap_socket(conn, server_hostname=self.host,
                                            session=self.sock.session)
        return conn, size


def binary(name):
    path = os.path.join(BIN_DIR, name)
    if not os.path.exists(path):
        raise unittest.SkipTest(f"{name} is not built")
    return path


class Server:
    """One server process. `ready_words` are the first words of the lines it prints once it
    listens ("ready P", "ready-ssl P"); the ports are kept in `ports` by word."""

    def __init__(self, argv, cwd=None, ready_words=("ready",), env=None, timeout=20):
        self.argv = argv
        self.ports = {}
        self.output = []
        self.proc = subprocess.Popen(
            argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, env=env)
        deadline = time.monotonic() + timeout
        pending = set(ready_words)
        buf = b""
        while pending:
            left = deadline - time.monotonic()
            if left <= 0:
                self.stop()
                raise AssertionError(f"server did not get ready: {self.output}")
            r, _, _ = select.select([self.proc.stdout], [], [], left)
            if not r:
                continue
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                self.stop()
                raise AssertionError(f"server ended early: {buf.decode(errors='replace')}")
            buf += chunk
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                text = line.decode(errors="replace").rstrip("\r")
                self.output.append(text)
                words = text.split()
                if len(words) == 2 and words[0] in pending:
                    self.ports[words[0]] = int(words[1])
                    pending.discard(words[0])
        self._rest = buf

    @property
    def port(self):
        return self.ports["ready"]

    def stop(self, sig=signal.SIGTERM, timeout=15):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc.stdout:
            try:
                rest = self.proc.stdout.read()
            except ValueError:
                rest = b""
            if rest:
                self.output.extend(rest.decode(errors="replace").splitlines())
            self.proc.stdout.close()
        return self.proc.returncode


class BaseSiteServer(Server):
    def __init__(self, root, extra=(), **kw):
        argv = [binary("base-site-server"), "--port", "0", "--root", root,
                "--bind", "127.0.0.1", *extra]
        super().__init__(argv, cwd=kw.pop("cwd", root), **kw)


class RawClient:
    """A bare control connection, for exact replies and odd input."""

    def __init__(self, port, host="127.0.0.1", timeout=10, source=None):
        self.sock = socket.create_connection((host, port), timeout=timeout,
                                             source_address=(source, 0) if source else None)
        self.buf = b""

    def send(self, data):
        if isinstance(data, str):
            data = data.encode()
        self.sock.sendall(data)

    def line(self):
        while b"\n" not in self.buf:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("closed")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.decode(errors="replace").rstrip("\r")

    def reply(self):
        """A whole reply: its lines, the last one being "ddd text"."""
        lines = [self.line()]
        first = lines[0]
        if len(first) >= 4 and first[3] == "-":
            code = first[:3]
            while True:
                ln = self.line()
                lines.append(ln)
                if ln.startswith(code + " "):
                    break
        return lines

    def cmd(self, text):
        self.send(text + "\r\n")
        return self.reply()[-1]

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def empty_dir(path):
    """Removes everything inside `path`, leaving links as links."""
    for name in os.listdir(path):
        full = os.path.join(path, name)
        if os.path.isdir(full) and not os.path.islink(full):
            shutil.rmtree(full)
        else:
            os.remove(full)


class TempDirTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)
