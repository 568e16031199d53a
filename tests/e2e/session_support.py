"""Shared set-up for the control-connection tests: one base-site-server per test, its logs in a
directory of their own, and helpers for logging in and reading the logs back."""

import glob
import os
import re
import socket
import time

from harness import BaseSiteServer, RawClient, TempDirTestCase

GREETING = "220 Connected to Vantor"


class ServerCase(TempDirTestCase):
    server_args = ()

    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.tmp, "root")
        self.logs = os.path.join(self.tmp, "logs")
        os.mkdir(self.root)
        os.mkdir(self.logs)
        self.server = BaseSiteServer(
            self.root, extra=["--log-dir", self.logs, *self.server_args], cwd=self.tmp)
        self.addCleanup(self.server.stop)

    def connect(self, timeout=10):
        client = RawClient(self.server.port, timeout=timeout)
        self.addCleanup(client.close)
        self.assertEqual(client.reply(), [GREETING])
        return client

    def login(self, user="bob", password="secret", client=None):
        client = client or self.connect()
        self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
        self.assertEqual(client.cmd(f"PASS {password}"), f"230 User {user} logged in.")
        return client

    def stop_server(self):
        self.assertEqual(self.server.stop(), 0)

    def program_log(self):
        with open(os.path.join(self.logs, "ftpd.log"), errors="replace") as f:
            return f.read().splitlines()

    def access_log(self):
        lines = []
        for path in sorted(glob.glob(os.path.join(self.logs, "*_access.log"))):
            self.assertRegex(os.path.basename(path), r"^\d{8}_access\.log$")
            with open(path, errors="replace") as f:
                lines.extend(f.read().splitlines())
        return lines

    def access_fields(self):
        """Access log lines split into their ten default fields."""
        rows = []
        for line in self.access_log():
            fields = line.split(";")
            self.assertGreaterEqual(len(fields), 10, line)
            # The reply text may itself hold ';'.
            rows.append(fields[:9] + [";".join(fields[9:])])
        return rows


DATE = r"\d{2}/\d{2}/\d{4}:\d{2}:\d{2}:\d{2}"


def message_lines(lines):
    """Program log messages without their date field."""
    out = []
    for line in lines:
        m = re.match(DATE + r";(.*)$", line)
        if m:
            out.append(m.group(1))
    return out


def expect_reply(client, code, timeout=15):
    """Reads whole replies until one whose final line starts with `code`; returns them all."""
    seen = []
    deadline = time.monotonic() + timeout
    client.sock.settimeout(timeout)
    while time.monotonic() < deadline:
        final = client.reply()[-1]
        seen.append(final)
        if final.startswith(code):
            return seen
    raise AssertionError(f"no {code} reply, got {seen}")


def silent_for(client, seconds):
    """True when nothing arrives on the connection within `seconds`."""
    if client.buf:
        return False
    client.sock.settimeout(seconds)
    try:
        data = client.sock.recv(1)
    except socket.timeout:
        return True
    finally:
        client.sock.settimeout(10)
    client.buf += data
    return False


def passive_connect(client):
    reply = client.cmd("PASV")
    m = re.match(r"227 Entering Passive Mode \((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)\.", reply)
    if not m:
        raise AssertionError(reply)
    nums = [int(x) for x in m.groups()]
    data = socket.create_connection((".".join(map(str, nums[:4])), nums[4] * 256 + nums[5]),
                                    timeout=10)
    return data
