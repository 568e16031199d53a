"""Starts the standalone server `vantor` on a free loopback port and watches its screen log."""

import os
import select
import signal
import socket
import subprocess
import time

from harness import TempDirTestCase, binary

LISTENING = "Listening for FTP connections on port "
LISTENING_SSL = "Listening for implicit SSL connections on port "


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_vantor(args, cwd, stdin_text=None, timeout=60):
    """A run that is expected to end by itself (help pages, -a)."""
    return subprocess.run([binary("vantor"), *args], cwd=cwd, input=stdin_text,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          text=True)


class Vantor:
    """One server process on 127.0.0.1. `args` are the options besides -p and -b. The port is
    chosen free and tried again when another process took it meanwhile. A `quiet` server (no
    screen log) is ready once its port takes connections."""

    def __init__(self, args, cwd, implicit=False, timeout=60, port_args=True, stdin_text=None,
                 quiet=False):
        self.lines = []
        self._buf = b""
        for _ in range(5):
            self.port = free_port()
            self.ssl_port = free_port() if implicit else None
            argv = [binary("vantor")]
            if port_args:
                argv += [f"-p{self.port}", "-b127.0.0.1"]
            if implicit:
                argv.append(f"-i{self.ssl_port}")
            argv += list(args)
            stdin = subprocess.DEVNULL if stdin_text is None else subprocess.PIPE
            self.proc = subprocess.Popen(argv, cwd=cwd, stdin=stdin,
                                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if stdin_text is not None:
                self.proc.stdin.write(stdin_text.encode())
                self.proc.stdin.close()
            if quiet:
                if self.wait_connect(timeout):
                    return
            else:
                wanted = LISTENING_SSL if implicit else LISTENING
                if self.wait_for(wanted, timeout, fail=False):
                    return
            if self.proc.poll() is not None and (quiet or any("Unable to start" in l or
                                                    "unable to listen" in l for l in self.lines)):
                self.lines = []
                continue
            self.stop()
            raise AssertionError("vantor did not start: " + "\n".join(self.lines))
        raise AssertionError("no free port found for vantor")

    def wait_connect(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.proc.poll() is None:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=5) as c:
                    c.recv(100)
                    return True
            except OSError:
                time.sleep(0.1)
        self._read(0.5)
        return False

    def _read(self, left):
        """True after data or a time-out, False at the end of the output."""
        if self.proc.stdout.closed:
            return False
        r, _, _ = select.select([self.proc.stdout], [], [], max(left, 0))
        if not r:
            return True
        chunk = os.read(self.proc.stdout.fileno(), 65536)
        if not chunk:
            return False
        self._buf += chunk
        while b"\n" in self._buf:
            line, self._buf = self._buf.split(b"\n", 1)
            self.lines.append(line.decode(errors="replace").rstrip("\r"))
        return True

    def wait_for(self, text, timeout=30, fail=True, start=0):
        """Waits for a screen line containing `text` (at index `start` or later)."""
        deadline = time.monotonic() + timeout
        while True:
            for line in self.lines[start:]:
                if text in line:
                    return line
            left = deadline - time.monotonic()
            if left <= 0 or not self._read(left):
                if fail:
                    raise AssertionError(f"no line with {text!r}: " + "\n".join(self.lines))
                return None

    def messages(self):
        """The screen lines without their date field (default formats)."""
        return [l.split(";", 1)[1] if ";" in l else l for l in self.lines]

    def send_signal(self, sig):
        self.proc.send_signal(sig)

    def stop(self, sig=signal.SIGINT, timeout=30):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            deadline = time.monotonic() + timeout
            while self.proc.poll() is None and time.monotonic() < deadline:
                self._read(0.2)
            if self.proc.poll() is None:
                self.proc.kill()
        self.proc.wait()
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self._read(0.5):
            pass
        if self._buf:
            self.lines.append(self._buf.decode(errors="replace"))
            self._buf = b""
        if not self.proc.stdout.closed:
            self.proc.stdout.close()
        return self.proc.returncode


class VantorCase(TempDirTestCase):
    def start(self, *args, cwd=None, **kw):
        server = Vantor(args, cwd or self.tmp, **kw)
        self.addCleanup(server.stop)
        return server
