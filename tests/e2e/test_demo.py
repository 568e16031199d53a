"""The demo of `make run` (scripts/run-demo) on a build folder of its own: the first run lays the
site out, a second keeps what the first uploaded and only changes the password, and both listen
on 127.0.0.1 unless ORVEX_BIND says otherwise."""

import ftplib
import io
import os
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import unittest

from harness import binary
from orvex_support import REPO, OrvexProcess, free_port

PASSWORD = re.compile(r"administrator: +orvex / (\w+)$")


class Demo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.build = os.path.join(cls.tmp, "build")
        os.makedirs(os.path.join(cls.build, "bin"))
        for tool in ("orvex", "orvex-passwd", "orvex-keys"):
            shutil.copy2(binary(tool), os.path.join(cls.build, "bin", tool))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def run_demo(self, **env_changes):
        """The demo until it listens: (process, password, FTP port)."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("ORVEX_")}
        env.update(ORVEX_PORT=str(free_port()), ORVEX_SSL_PORT=str(free_port()), **env_changes)
        demo = OrvexProcess([os.path.join(REPO, "scripts", "run-demo"), self.build], env=env)
        self.addCleanup(demo.kill)
        port = demo.ready(timeout=120)
        demo.wait_for(r"Listening for implicit SSL connections on port " + env["ORVEX_SSL_PORT"])
        password = demo.wait_for(PASSWORD.pattern).group(1)
        return demo, password, port

    def ftp(self, port, password):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", port, timeout=20)
        ftp.login("orvex", password)
        self.addCleanup(ftp.close)
        return ftp

    def test_a_second_run_keeps_the_site_and_changes_the_password(self):
        demo, first, port = self.run_demo()
        self.assertIn(f"Starting server on 127.0.0.1:{port}...", demo.messages())
        self.assertTrue(any("(new site)" in line for line in demo.lines), demo.lines)
        ftp = self.ftp(port, first)
        ftp.storbinary("STOR kept.txt", io.BytesIO(b"uploaded during the first run\n"))
        ftp.quit()
        # The lftp line works as printed: AUTH TLS with the self-signed certificate.
        lftp = next(l.split("e.g.", 1)[1] for l in demo.lines if "e.g.  lftp " in l)
        if shutil.which("lftp"):
            listed = subprocess.run(shlex.split(lftp), input="ls\nbye\n", capture_output=True,
                                    text=True, timeout=120)
            self.assertIn("kept.txt", listed.stdout, listed.stderr)
        self.assertEqual(demo.stop(signal.SIGINT), 0)

        demo, second, port = self.run_demo()
        self.assertNotEqual(second, first)
        self.assertTrue(any("(kept site, new password)" in line for line in demo.lines))
        ftp = self.ftp(port, second)
        data = io.BytesIO()
        ftp.retrbinary("RETR kept.txt", data.write)
        self.assertEqual(data.getvalue(), b"uploaded during the first run\n")
        with self.assertRaises(ftplib.error_perm):
            self.ftp(port, first)
        self.assertEqual(demo.stop(), 0)

        # An empty ORVEX_BIND means every address.
        demo, third, port = self.run_demo(ORVEX_BIND="")
        self.assertIn(f"Starting server on port {port}...", demo.messages())
        self.ftp(port, third).quit()
        self.assertEqual(demo.stop(), 0)
        # The site lives in the build folder given, the checkout's dist/ is only copied.
        site = os.path.join(self.build, "orvex-demo")
        self.assertTrue(os.path.isfile(os.path.join(site, "site", "kept.txt")))
        self.assertTrue(os.path.isfile(os.path.join(site, "keys", "cert.pem")))


if __name__ == "__main__":
    unittest.main()
