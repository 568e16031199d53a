"""LIST and NLST over data connections: line format, order, options, single files, patterns,
recursion, dates of old files and names that cannot be listed."""

import ftplib
import os
import re
import time
import unittest

from transfer_support import DataCase, connect_data, final_code, have, pasv, recv_all, run

LINE_RE = re.compile(r"^([d-])([rwx-]{9}) {1,3}(\d+) (.{8}) (.{8}) +(\d+) "
                     r"(\w{3} \d\d (?:\d\d:\d\d| \d{4})) (.*)$")
YEAR_2003 = time.mktime((2003, 6, 15, 12, 0, 0, 0, 0, -1))


class Listings(DataCase):
    def listing(self, command, client=None):
        c = client or self.raw()
        d = connect_data(pasv(c))
        c.send(command + "\r\n")
        first = c.reply()[-1]
        if not first.startswith("150"):
            d.close()
            return first, None
        self.assertEqual(first, "150 Opening ASCII mode data connection for directory listing.")
        body = recv_all(d)
        final = c.reply()[-1]
        self.assertIn(f"[Bytes: {len(body)}]", final)
        self.assertTrue(body == b"" or body.endswith(b"\r\n"), body)
        return final, body.decode("utf-8", "replace").split("\r\n")[:-1]

    def make_tree(self):
        self.write("notes.txt", b"hello")
        os.chmod(self.path("notes.txt"), 0o644)
        self.write("b.txt", b"12")
        self.write("c.dat", b"x" * 1234)
        self.write("sub/inner.txt", b"in")
        self.write("sub/deep/d.txt", b"d")
        os.mkdir(self.path("empty"))

    def test_list_lines_directories_first(self):
        self.make_tree()
        final, lines = self.listing("LIST")
        self.assertTrue(final.startswith("226 "))
        parsed = [LINE_RE.match(l) for l in lines]
        self.assertTrue(all(parsed), lines)
        kinds = [m.group(1) for m in parsed]
        self.assertEqual(kinds, ["d", "d", "-", "-", "-"])
        names = {m.group(8): m for m in parsed}
        self.assertEqual(set(names), {"sub", "empty", "notes.txt", "b.txt", "c.dat"})
        self.assertTrue(lines[[m.group(8) for m in parsed].index("notes.txt")].startswith(
            "-rw-r--r--   1 owner    group             5 "))
        self.assertEqual(names["c.dat"].group(6), "1234")
        self.assertEqual(names["sub"].group(1), "d")
        # Options other than R and N change nothing.
        self.assertEqual(sorted(self.listing("LIST -la")[1]), sorted(lines))
        self.assertEqual(sorted(self.listing("LIST -l -a")[1]), sorted(lines))

    def test_nlst_names_and_patterns(self):
        self.make_tree()
        _, names = self.listing("NLST")
        self.assertEqual(set(names[:2]), {"sub", "empty"})
        self.assertEqual(set(names[2:]), {"notes.txt", "b.txt", "c.dat"})
        _, txt = self.listing("LIST *.txt")
        self.assertEqual(sorted(LINE_RE.match(l).group(8) for l in txt), ["b.txt", "notes.txt"])
        _, txt = self.listing("NLST sub/*.txt")
        self.assertEqual(txt, ["inner.txt"])
        self.assertEqual(self.listing("LIST *.none"), (self.listing("LIST *.none")[0], []))

    def test_single_file_shows_the_argument(self):
        self.make_tree()
        os.chmod(self.path("sub/inner.txt"), 0o600)
        _, lines = self.listing("LIST sub/inner.txt")
        self.assertEqual(len(lines), 1)
        self.assertTrue(lines[0].startswith("-rw-------   1 owner    group             2 "),
                        lines)
        self.assertTrue(lines[0].endswith(" sub/inner.txt"), lines)
        self.assertEqual(self.listing("NLST sub/inner.txt")[1], ["sub/inner.txt"])
        self.assertEqual(self.listing("LIST nothing"),
                         ("550 nothing: No such file or directory.", None))

    def test_old_files_show_their_year(self):
        self.write("old.txt", b"o")
        self.write("new.txt", b"n")
        os.utime(self.path("old.txt"), (YEAR_2003, YEAR_2003))
        _, lines = self.listing("LIST")
        dates = {LINE_RE.match(l).group(8): LINE_RE.match(l).group(7) for l in lines}
        self.assertEqual(dates["old.txt"], "Jun 15  2003")
        self.assertRegex(dates["new.txt"], r"^\w{3} \d\d \d\d:\d\d$")

    def test_recursive_listing(self):
        self.make_tree()
        final, lines = self.listing("LIST -R")
        self.assertTrue(final.startswith("226 "))
        text = "\n".join(lines)
        # Each directory: a header, its entries, a blank line.
        for header in (":", "sub:", "sub/deep:", "empty:"):
            self.assertIn(header, lines)
        blocks = text.split("\n\n")
        self.assertEqual(len([b for b in blocks if b.strip()]), 4, lines)
        sub = next(b for b in blocks if b.strip().startswith("sub:"))
        self.assertIn(" inner.txt", sub)
        self.assertIn(" deep", sub)
        _, names = self.listing("LIST -RN sub")
        self.assertEqual(names, ["sub:", "deep", "inner.txt", "", "sub/deep:", "d.txt", ""])

    def test_links_not_descended_and_odd_names_skipped(self):
        self.write("real/f.txt", b"f")
        os.symlink(self.path("real"), self.path("link"))
        os.symlink("/", self.path("rootlink"))
        for odd in ("back\\slash", "car\rriage", "line\nfeed"):
            self.write(odd, b"odd")
        self.write("fine.txt", b"ok")
        _, lines = self.listing("LIST -R")
        headers = [l for l in lines if l.endswith(":")]
        self.assertEqual(sorted(headers), [":", "real:"])
        self.assertFalse(any("slash" in l or "riage" in l or "feed" in l for l in lines), lines)
        names = {LINE_RE.match(l).group(8) for l in lines if LINE_RE.match(l)}
        self.assertTrue({"fine.txt", "real", "link", "rootlink", "f.txt"} <= names, names)

    def test_listing_in_active_mode_and_with_ftplib(self):
        self.make_tree()
        f = ftplib.FTP()
        f.connect("127.0.0.1", self.server.port, timeout=20)
        self.addCleanup(f.close)
        f.login("tester", "secret")
        for passive in (True, False):
            f.set_pasv(passive)
            lines = []
            f.retrlines("LIST", lines.append)
            self.assertEqual(len(lines), 5)
            self.assertEqual(sorted(f.nlst()), ["b.txt", "c.dat", "empty", "notes.txt", "sub"])
        f.quit()

    @unittest.skipUnless(have("curl"), "curl is not installed")
    def test_curl_list_only(self):
        self.make_tree()
        r = run(["curl", "-sS", "--max-time", "30", "--list-only", self.url("sub/")])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().splitlines(), ["deep", "inner.txt"])


if __name__ == "__main__":
    unittest.main()
