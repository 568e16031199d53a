"""tarrow: the usage line, and a detached start of a stand-in runtime that records itself."""

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

from harness import binary

USAGE = b"Usage: tarrow <java.exe path> <java app path>\n"

# Records how it was started, waits for the test's "go" (so it is still running after tarrow
# has ended), then records what it has inherited and who its parent is by then.
STANDIN = r'''#!{python}
import json, os, sys, time
d = os.environ["STANDIN_DIR"]

def record(name, data):
    with open(os.path.join(d, name + ".tmp"), "w") as f:
        json.dump(data, f)
    os.rename(os.path.join(d, name + ".tmp"), os.path.join(d, name))

record("started.json", {{
    "argv": sys.argv[1:], "orig_argv": getattr(sys, "orig_argv", None),
    "pid": os.getpid(), "sid": os.getsid(0), "ppid": os.getppid()}})
deadline = time.monotonic() + 30
while not os.path.exists(os.path.join(d, "go")) and time.monotonic() < deadline:
    time.sleep(0.05)
fd = int(os.environ.get("WATCHED_FD", "-1"))
try:
    os.fstat(fd)
    watched_open = True
except OSError:
    watched_open = False
record("finished.json", {{
    "ppid": os.getppid(), "watched_open": watched_open,
    "stdio": [os.readlink("/proc/self/fd/%d" % i) for i in range(3)]}})
'''


def wait_for(path, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path) as f:
                return json.load(f)
        time.sleep(0.05)
    raise AssertionError(f"{path} did not appear")


class TarrowTest(unittest.TestCase):
    def setUp(self):
        self.tarrow = binary("tarrow")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.standin = os.path.join(self.dir, "fake java")
        with open(self.standin, "w") as f:
            f.write(STANDIN.format(python=sys.executable))
        os.chmod(self.standin, 0o755)
        self.env = dict(os.environ, STANDIN_DIR=self.dir)

    def tearDown(self):
        # Let a stand-in that is still waiting finish.
        open(os.path.join(self.dir, "go"), "w").close()
        finished = os.path.join(self.dir, "finished.json")
        if os.path.exists(os.path.join(self.dir, "started.json")):
            wait_for(finished)
        self.tmp.cleanup()

    def run_tarrow(self, *args, **kw):
        proc = subprocess.Popen([self.tarrow, *args], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=self.env, **kw)
        # communicate() returns only when every holder of the pipes is gone.
        out, err = proc.communicate(timeout=15)
        return proc, out, err

    def test_usage_with_zero_and_one_argument(self):
        for args in ([], [self.standin]):
            proc, out, err = self.run_tarrow(*args)
            self.assertEqual(proc.returncode, 0)
            self.assertEqual(out, USAGE)
            self.assertEqual(err, b"")
        time.sleep(0.3)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "started.json")))

    def test_detached_start_with_only_the_first_two_arguments(self):
        r, w = os.pipe()
        os.set_inheritable(w, True)
        self.env["WATCHED_FD"] = str(w)
        try:
            proc, out, err = self.run_tarrow(
                self.standin, '-jar "/opt/my app/app.jar" --flag', "ignored", "also ignored",
                pass_fds=(w,))
        finally:
            os.close(w)
        self.assertEqual((proc.returncode, out, err), (0, b"", b""))

        started = wait_for(os.path.join(self.dir, "started.json"))
        # tarrow has ended while the runtime still waits: it did not wait for it.
        self.assertFalse(os.path.exists(os.path.join(self.dir, "finished.json")))
        self.assertEqual(started["argv"], ["-jar", "/opt/my app/app.jar", "--flag"])
        self.assertEqual(started["sid"], started["pid"])
        self.assertNotEqual(started["sid"], os.getsid(0))
        # Nobody but us holds the pipe's write end: reading it ends at once.
        self.assertEqual(os.read(r, 1), b"")
        os.close(r)

        open(os.path.join(self.dir, "go"), "w").close()
        finished = wait_for(os.path.join(self.dir, "finished.json"))
        self.assertNotEqual(finished["ppid"], proc.pid)
        self.assertFalse(finished["watched_open"])
        self.assertEqual(finished["stdio"], ["/dev/null"] * 3)

    def test_runtime_gets_its_own_path_as_program_name(self):
        if not hasattr(sys, "orig_argv"):
            self.skipTest("needs Python 3.10")
        proc, out, _ = self.run_tarrow(sys.executable, f'-S "{self.standin}" a', "b")
        self.assertEqual((proc.returncode, out), (0, b""))
        started = wait_for(os.path.join(self.dir, "started.json"))
        self.assertEqual(started["orig_argv"], [sys.executable, "-S", self.standin, "a"])

    def test_failed_start_is_silent_and_succeeds(self):
        proc, out, err = self.run_tarrow(os.path.join(self.dir, "no-such-java"), "app.jar")
        self.assertEqual((proc.returncode, out, err), (0, b"", b""))
        proc, out, err = self.run_tarrow(self.dir, "app.jar")  # a folder, not a program
        self.assertEqual((proc.returncode, out, err), (0, b"", b""))


if __name__ == "__main__":
    unittest.main()
