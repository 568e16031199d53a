"""The sessions benchmark at toy sizes: it must run through against the built servers and report
every figure; its timings are not checked (a benchmark is never a timed test)."""

import asyncio
import json
import os
import subprocess
import sys
import unittest

from harness import BIN_DIR, TempDirTestCase, binary

BENCH_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench")
sys.path.insert(0, BENCH_DIR)

import sessions_bench  # noqa: E402


class SessionsBench(TempDirTestCase):
    def test_runs_through_and_reports_every_figure(self):
        binary("orvex")
        binary("vantor")
        out = os.path.join(self.tmp, "figures.json")
        run = subprocess.run(
            [sys.executable, os.path.join(BENCH_DIR, "sessions_bench.py"), "--bin-dir", BIN_DIR,
             "--sessions", "40", "--vsftpd-sessions", "8", "--sources", "5", "--files", "60",
             "--upload-mib", "2", "--rounds", "2", "--list-rounds", "1", "--stor-tries", "1",
             "--retr-tries", "1", "--login-samples", "2", "--json", out],
            capture_output=True, text=True, timeout=400)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("targets (orvex)", run.stdout)
        with open(out) as f:
            report = json.load(f)
        figures, samples = report["figures"], report["samples"]
        for name in ("orvex", "vantor"):
            fig = figures[name]
            self.assertEqual(fig["sessions held"], "40/40", name)
            self.assertEqual(fig["sessions lost or refused"], 0, name)
            self.assertEqual(len(samples[name]["login_ms"]), 4, name)
            self.assertGreater(fig["KiB per idle session"], 0, name)
            # Both listings saw every file.
            self.assertGreaterEqual(samples[name]["LIST_lines"], 60, name)
            self.assertGreaterEqual(samples[name]["MLSD_lines"], 60, name)
        for name, fig in figures.items():
            self.assertGreater(fig["RETR plain (MB/s)"], 0, name)
            self.assertGreaterEqual(fig["STOR last byte in file..226 (ms)"], 0, name)
            self.assertGreaterEqual(fig["STOR data sent..226 (ms)"],
                                    fig["STOR last byte in file..226 (ms)"], name)
        if "vsftpd" in figures:
            self.assertEqual(figures["vsftpd"]["sessions held"], "8/8")
            self.assertIsNone(figures["vsftpd"]["MLSD (ms)"])
        self.assertEqual(len(report["targets"]), 7)


class Pieces(unittest.TestCase):
    def test_multi_line_replies_are_read_whole(self):
        async def codes():
            reader = asyncio.StreamReader()
            reader.feed_data(b"220-Welcome.\r\n220-More.\r\n220 Ready.\r\n331 Password.\r\n")
            reader.feed_eof()
            first = await sessions_bench.read_reply(reader)
            second = await sessions_bench.read_reply(reader)
            with self.assertRaises(ConnectionError):
                await sessions_bench.read_reply(reader)
            return first, second

        self.assertEqual(asyncio.run(codes()), ("220", "331"))

    def test_targets_compare_with_the_other_servers(self):
        fig = {
            "orvex": {"one more login USER..230 (ms)": 0.5, "open the sessions (s)": 6.0,
                      "KiB per idle session": 30.0, "LIST (ms)": 40.0, "MLSD (ms)": 48.0,
                      "STOR last byte in file..226 (ms)": 1.0, "RETR plain (MB/s)": 900.0},
            "vantor": {"one more login USER..230 (ms)": 0.2, "open the sessions (s)": 5.0,
                       "RETR plain (MB/s)": 1000.0},
            "vsftpd": {"RETR plain (MB/s)": 800.0},
        }
        met = {text: ok for text, _, ok in sessions_bench.targets(fig, 100)}
        self.assertEqual(met, {
            "login with 100 held < 1 ms": True, "login within 2x vantor": False,
            "opening 100 within 1.5x vantor": True, "<= 24 KiB per idle session": False,
            "MLSD within 1.3x LIST": True, "STOR last byte to 226 < 2 ms": True,
            "RETR >= 0.95x the fastest other": False})


if __name__ == "__main__":
    unittest.main()
