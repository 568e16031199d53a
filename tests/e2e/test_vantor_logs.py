"""vantor's logging levels, log paths, the reduced access log and the log formats."""

import ftplib
import glob
import io
import os
import time
import unittest

from vantor_support import VantorCase

REDUCED_VERBS = {"CONNECT", "DISCONNECT", "USER", "PASS", "RETR", "STOR", "ABOR", "QUIT"}


class LogCase(VantorCase):
    def setUp(self):
        super().setUp()
        self.logs = os.path.join(self.tmp, "logs")
        os.mkdir(self.logs)
        with open(os.path.join(self.tmp, "a.txt"), "w") as f:
            f.write("alpha\n")

    def session(self, server):
        """Logs in, looks around, downloads and uploads, then quits."""
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", server.port, timeout=20)
        ftp.login("anonymous", "x")
        ftp.pwd()
        ftp.nlst()
        ftp.retrbinary("RETR a.txt", lambda b: None)
        ftp.storbinary("STOR b.txt", io.BytesIO(b"beta\n"))
        ftp.quit()

    def program_log(self):
        path = os.path.join(self.logs, "ftpd.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [l.split(";", 1)[1] for l in f.read().splitlines()]

    def access_log(self):
        """Verb field of each access-log line (default format)."""
        files = glob.glob(os.path.join(self.logs, "*_access.log"))
        self.assertLessEqual(len(files), 1)
        if not files:
            return []
        with open(files[0]) as f:
            return [l.split(";")[6] for l in f.read().splitlines()]

    def screen_verbs(self, server):
        return [l.split(";")[6] for l in server.lines if l.count(";") == 9]


class LevelTest(LogCase):
    def test_level_4_writes_files_only(self):
        s = self.start(f"-L4:{self.logs}", quiet=True)
        self.session(s)
        self.assertEqual(s.stop(), 0)
        self.assertEqual(s.lines, [])
        program = self.program_log()
        self.assertIn(f"Listening for FTP connections on port {s.port}.", program)
        self.assertIn("Server shutting down.", program)
        verbs = self.access_log()
        for verb in ("CONNECT", "USER", "PASS", "PWD", "PASV", "LIST", "RETR", "STOR", "QUIT",
                     "DISCONNECT"):
            self.assertIn(verb, verbs)

    def test_level_3_keeps_only_logins_and_transfers_in_the_access_log(self):
        s = self.start(f"-L3:{self.logs}", quiet=True)
        self.session(s)
        self.assertEqual(s.stop(), 0)
        verbs = self.access_log()
        self.assertTrue({"USER", "PASS", "RETR", "STOR", "QUIT"} <= set(verbs), verbs)
        self.assertTrue(set(verbs) <= REDUCED_VERBS, verbs)
        # The program log is not reduced.
        self.assertTrue(any(l.startswith("Connection established") for l in self.program_log()))

    def test_level_1_shows_the_reduced_logs_on_screen(self):
        s = self.start("-L1")
        self.session(s)
        self.assertEqual(s.stop(), 0)
        verbs = self.screen_verbs(s)
        self.assertIn("RETR", verbs)
        self.assertTrue(set(verbs) <= REDUCED_VERBS, verbs)
        self.assertEqual(os.listdir(self.logs), [])

    def test_level_5_and_6_write_both(self):
        for level, reduced in (("5", True), ("6", False)):
            with self.subTest(level=level):
                for name in os.listdir(self.logs):
                    os.remove(os.path.join(self.logs, name))
                s = self.start(f"-L{level}:{self.logs}")
                self.session(s)
                self.assertEqual(s.stop(), 0)
                on_screen, in_file = self.screen_verbs(s), self.access_log()
                self.assertEqual(on_screen, in_file)
                self.assertEqual("PWD" in in_file, not reduced)
                self.assertIn(f"Listening for FTP connections on port {s.port}.",
                              self.program_log())

    def test_level_0_logs_nothing_and_bad_levels_keep_level_2(self):
        s = self.start(f"-L0:{self.logs}", quiet=True)
        self.session(s)
        self.assertEqual(s.stop(), 0)
        self.assertEqual((s.lines, os.listdir(self.logs)), ([], []))

        s = self.start("-L9", "-Lx")
        self.session(s)
        self.assertEqual(s.stop(), 0)
        self.assertIn("PWD", self.screen_verbs(s))

    def test_missing_log_path_warns(self):
        missing = os.path.join(self.tmp, "nowhere")
        s = self.start(f"-L2:{missing}")
        self.assertEqual(s.messages()[:2], ["WARNING: unable to set the program log path.",
                                            "WARNING: unable to set the access log path."])


class FormatTest(LogCase):
    def test_program_access_and_date_formats(self):
        s = self.start("-Fp:%S|%M|%D", "-Fd:%Y", "-Fa:%u,%m,%r,%%", "-Fx:ignored", "-Fp")
        self.session(s)
        self.assertEqual(s.stop(), 0)
        year = time.strftime("%Y")
        self.assertIn(f"MAIN|Listening for FTP connections on port {s.port}.|{year}", s.lines)
        self.assertIn("anonymous,USER,331,%", s.lines)
        self.assertIn("anonymous,RETR,226,%", s.lines)


if __name__ == "__main__":
    unittest.main()
