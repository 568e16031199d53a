"""Transfers that end early or go wrong, against vantor: idle uploads that must still stop,
incomplete transfers answered as failures, no leftovers of failed uploads, deep recursive
listings."""

import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from harness import RawClient
from transfer_support import connect_data, final_code, pasv, recv_all
from vantor_support import Vantor

INCOMPLETE = re.compile(r"^426 \[Bytes: (\d+)\]\[Time: \d+\.\d\d s\]\[Speed: \d+\.\d\d K/s\]$")


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class VantorTransfers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.root = os.path.join(cls.tmp, "root")
        os.mkdir(cls.root)
        with open(os.path.join(cls.root, "big.bin"), "wb") as f:
            f.write(os.urandom(1 << 20) * 24)
        cls.server = Vantor([f"-H{cls.root}"], cls.tmp, quiet=True)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def login(self, server=None):
        c = RawClient((server or self.server).port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        c.cmd("USER anonymous")
        self.assertEqual(c.cmd("PASS x"), "230 User anonymous logged in.")
        return c

    def start_idle_upload(self, c, name):
        c.cmd("TYPE I")
        d = connect_data(pasv(c))
        self.addCleanup(d.close)
        c.send(f"STOR {name}\r\n")
        self.assertEqual(final_code(c), "150")
        d.sendall(b"begun")
        time.sleep(0.5)  # then nothing more, and the connection stays open
        return d

    def test_idle_binary_upload_ends_on_abor_and_quit(self):
        c = self.login()
        self.start_idle_upload(c, "idle.bin")
        start = time.monotonic()
        c.send("ABOR\r\n")
        replies = sorted([c.reply()[-1], c.reply()[-1]])
        self.assertEqual(replies[0], "225 ABOR command successful.")
        self.assertEqual(INCOMPLETE.match(replies[1]).group(1), "5")
        self.assertLess(time.monotonic() - start, 5)
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")
        self.start_idle_upload(c, "idle2.bin")
        c.send("QUIT\r\n")
        self.assertRegex(c.reply()[-1], INCOMPLETE)
        self.assertEqual(c.reply(), ["221 Exit."])
        self.assertLess(time.monotonic() - start, 10)

    def test_stop_signal_ends_an_idle_binary_upload(self):
        server = Vantor([f"-H{self.root}"], self.tmp, quiet=True)
        self.addCleanup(server.stop)
        self.start_idle_upload(self.login(server), "stopped.bin")
        start = time.monotonic()
        self.assertEqual(server.stop(signal.SIGTERM, timeout=20), 0)
        self.assertLess(time.monotonic() - start, 10)

    def test_incomplete_downloads_answer_426(self):
        c = self.login()
        c.cmd("TYPE I")
        # Stopped by ABOR while the client reads slowly.
        d = connect_data(pasv(c))
        d.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        c.send("RETR big.bin\r\n")
        self.assertEqual(final_code(c), "150")
        d.recv(1000)
        c.send("ABOR\r\n")
        replies = sorted([c.reply()[-1], c.reply()[-1]])
        self.assertEqual(replies[0], "225 ABOR command successful.")
        self.assertLess(int(INCOMPLETE.match(replies[1]).group(1)), 24 << 20)
        d.close()
        # The client closes the data connection early.
        for mode in ("I", "A"):  # the kernel-copy path and the block path
            c.cmd(f"TYPE {mode}")
            d = connect_data(pasv(c))
            c.send("RETR big.bin\r\n")
            self.assertEqual(final_code(c), "150")
            d.recv(1000)
            d.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            d.close()
            self.assertRegex(c.reply()[-1], INCOMPLETE, mode)
        # A whole file still ends with 226.
        c.cmd("TYPE I")
        d = connect_data(pasv(c))
        c.send("RETR big.bin\r\n")
        final_code(c)
        self.assertEqual(len(recv_all(d)), 24 << 20)
        self.assertEqual(final_code(c), "226")

    def test_failed_uploads_leave_no_empty_file(self):
        c = self.login()
        with open(os.path.join(self.root, "taken.txt"), "wb") as f:
            f.write(b"old")
        for command, shown in (("STOU taken.txt", "taken.txt.1"), ("STOR fresh.txt", None)):
            port = closed_port()
            c.cmd(f"PORT 127,0,0,1,{port >> 8},{port & 255}")
            self.assertEqual(c.cmd(command), "425 Can't open data connection", command)
        self.assertEqual(sorted(n for n in os.listdir(self.root) if n.endswith(".txt") or
                                ".txt." in n), ["taken.txt"])
        # A write that fails half-way (a full disk, here a file size limit) takes the file the
        # upload made with it.
        pid = self.server.proc.pid
        soft, hard = resource.prlimit(pid, resource.RLIMIT_FSIZE)
        resource.prlimit(pid, resource.RLIMIT_FSIZE, (256 * 1024, hard))
        try:
            c.cmd("TYPE I")
            d = connect_data(pasv(c))
            c.send("STOR full.bin\r\n")
            self.assertEqual(final_code(c), "150")
            try:
                d.sendall(b"f" * (1 << 20))
            except OSError:
                pass
            d.close()
            self.assertEqual(c.reply()[-1],
                             "451 full.bin: The system cannot write to the file specified.")
        finally:
            resource.prlimit(pid, resource.RLIMIT_FSIZE, (soft, hard))
        self.assertFalse(os.path.exists(os.path.join(self.root, "full.bin")))

    def test_deep_tree_lists_recursively(self):
        levels = 2000
        deep = os.path.join(self.root, "deep")
        os.mkdir(deep)
        self.addCleanup(subprocess.run, ["rm", "-rf", deep], check=True)
        fd = os.open(deep, os.O_RDONLY)
        for _ in range(levels):  # one level at a time: too deep for recursive helpers
            os.mkdir("d", dir_fd=fd)
            inner = os.open("d", os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        os.close(fd)
        # Threads get stacks of the size of the process's stack limit: with 1 MiB, a walk that
        # took stack for every level would not live through it.
        soft, hard = resource.getrlimit(resource.RLIMIT_STACK)
        resource.setrlimit(resource.RLIMIT_STACK, (1 << 20, hard))
        try:
            server = Vantor([f"-H{self.root}"], self.tmp, quiet=True)
        finally:
            resource.setrlimit(resource.RLIMIT_STACK, (soft, hard))
        self.addCleanup(server.stop)
        c = self.login(server)
        d = connect_data(pasv(c))
        c.send("LIST -R deep\r\n")
        self.assertEqual(final_code(c), "150")
        body = recv_all(d).decode()
        self.assertEqual(final_code(c), "226")
        # Headers name the directory (cut to the line's length deep down), entries begin "drwx".
        headers = [l for l in body.split("\r\n") if l.startswith("deep")]
        self.assertEqual(len(headers), levels + 1)
        self.assertEqual(headers[:2], ["deep:", "deep/d:"])
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")


if __name__ == "__main__":
    unittest.main()
