"""Directory and file commands against the test server: exact replies and their effect on disk."""

import os
import shutil
import tempfile
import unittest

from harness import BaseSiteServer, RawClient, empty_dir


class FsCase(unittest.TestCase):
    """One server per class on a root emptied before each test, which gets a fresh logged-in
    connection; logs go to a directory of their own."""

    env = None

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.root = os.path.join(cls.tmp, "root")
        logs = os.path.join(cls.tmp, "logs")
        os.mkdir(cls.root)
        os.mkdir(logs)
        env = dict(os.environ, **cls.env) if cls.env else None
        try:
            cls.server = BaseSiteServer(cls.root, cwd=logs, env=env)
        except BaseException:
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        empty_dir(self.root)
        self.c = RawClient(self.server.port)
        self.addCleanup(self.c.close)
        self.assertTrue(self.c.reply()[-1].startswith("220 "))
        self.assertTrue(self.c.cmd("USER tester").startswith("331 "))
        self.assertTrue(self.c.cmd("PASS secret").startswith("230 "))

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def mkdir(self, *parts):
        os.makedirs(self.path(*parts), exist_ok=True)

    def write(self, rel, data=b"hello"):
        with open(self.path(rel), "wb") as f:
            f.write(data)

    def assertReply(self, command, expected):
        self.assertEqual(self.c.cmd(command), expected, command)


class MissingArgumentTest(FsCase):
    def test_every_path_verb_asks_for_its_argument(self):
        for verb in ("DELE", "MKD", "XMKD", "RMD", "xrmd", "RNFR", "RNTO", "SIZE", "MDTM",
                     "REST"):
            self.assertReply(verb, f"500 '{verb}': Invalid number of parameters.")


class CwdPwdTest(FsCase):
    def test_cwd_without_argument_changes_nothing(self):
        self.mkdir("sub")
        self.assertReply("CWD sub", "250 CWD command successful.")
        self.assertReply("CWD", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/sub/" is current directory.')

    def test_cwd_never_climbs_above_the_root(self):
        self.assertReply("CWD ..", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/" is current directory.')
        self.mkdir("a")
        self.assertReply("CWD a/../../..", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/" is current directory.')
        # Outside the root /etc exists; inside it does not.
        self.assertReply("CWD ../../etc", "550 /etc: No such file or directory.")
        self.assertReply("CWD /", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/" is current directory.')

    def test_cwd_to_a_file_names_the_resolved_path(self):
        self.mkdir("sub")
        self.write("sub/f.txt")
        self.assertReply("CWD sub", "250 CWD command successful.")
        self.assertReply("CWD ./f.txt", "550 /sub/f.txt: Not a directory.")
        self.assertReply("CWD ../nope", "550 /nope: No such file or directory.")
        self.assertReply("PWD", '257 "/sub/" is current directory.')

    def test_relative_absolute_and_doubled_separators(self):
        self.mkdir("a", "b")
        self.assertReply("CWD a//b", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/a/b/" is current directory.')
        self.assertReply("CWD /a", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/a/" is current directory.')
        self.assertReply("CWD b/", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/a/b/" is current directory.')

    def test_names_with_spaces(self):
        self.mkdir("my  dir")
        self.mkdir("my dir")
        # Arguments are joined with single spaces.
        self.assertReply("CWD my  dir", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/my dir/" is current directory.')

    def test_lower_case_and_x_forms(self):
        self.mkdir("sub", "deeper")
        self.assertReply("xcwd sub", "250 CWD command successful.")
        self.assertReply("XPWD", '257 "/sub/" is current directory.')
        self.assertReply("cwd deeper", "250 CWD command successful.")
        self.assertReply("cdup", "250 CWD command successful.")
        self.assertReply("xpwd", '257 "/sub/" is current directory.')
        self.assertReply("xcup", "250 CWD command successful.")
        self.assertReply("pwd", '257 "/" is current directory.')
        self.assertReply("CDUP", "250 CWD command successful.")
        self.assertReply("PWD", '257 "/" is current directory.')


class MkdTest(FsCase):
    def test_create_and_collisions(self):
        self.write("f.txt")
        self.assertReply("MKD new", '257 "new" new directory created.')
        self.assertTrue(os.path.isdir(self.path("new")))
        self.assertReply("XMKD new/inner/", '257 "new/inner/" new directory created.')
        self.assertTrue(os.path.isdir(self.path("new", "inner")))
        self.assertReply("MKD new", "521 new: Directory exits.")
        self.assertReply("mkd new/", "521 new/: Directory exits.")
        self.assertReply("MKD f.txt", "521 f.txt: Is a file.")
        self.assertReply("MKD /", "521 /: Directory exits.")
        self.assertReply("MKD gone/x", "550 gone/x: Unable to create directory.")
        self.assertFalse(os.path.exists(self.path("gone")))

    def test_created_inside_current_directory_and_with_spaces(self):
        self.mkdir("sub")
        self.assertReply("CWD sub", "250 CWD command successful.")
        self.assertReply("MKD two words", '257 "two words" new directory created.')
        self.assertTrue(os.path.isdir(self.path("sub", "two words")))
        self.assertReply("MKD ../../up", '257 "../../up" new directory created.')
        self.assertTrue(os.path.isdir(self.path("up")))

    def test_names_windows_cannot_hold_are_refused(self):
        for name in ("a:b", "a*b", "q?", 'say"hi"', "x<y", "x>y", "p|q", "bell\x07", "tab\x01"):
            self.assertReply(f"MKD {name}", f"550 {name}: Unable to create directory.")
        self.assertEqual(os.listdir(self.root), [])


class RmdTest(FsCase):
    def test_the_root_is_never_removed(self):
        self.mkdir("sub")
        for arg in ("/", "//", "///", ".", "sub/..", "../..", "\\"):
            self.assertReply(f"RMD {arg}", "500 Cannot delete the root directory.")
        self.assertTrue(os.path.isdir(self.path("sub")))
        self.assertReply("CWD sub", "250 CWD command successful.")
        self.assertReply("XRMD ..", "500 Cannot delete the root directory.")
        self.assertTrue(os.path.isdir(self.root))

    def test_failures_name_the_argument(self):
        self.write("f.txt")
        self.mkdir("full")
        self.write("full/x")
        self.assertReply("RMD nope", "550 nope: No such file of directory.")
        self.assertReply("RMD f.txt", "550 f.txt: Not a directory.")
        self.assertReply("RMD full", "550 full: The directory is not empty.")
        self.assertTrue(os.path.exists(self.path("full", "x")))

    def test_a_link_to_a_directory_is_not_removed_as_one(self):
        self.mkdir("real")
        os.symlink("real", self.path("link"))
        self.assertReply("RMD link", "550 link: Not a directory.")
        self.assertTrue(os.path.isdir(self.path("real")))

    def test_success(self):
        self.mkdir("a", "empty")
        self.assertReply("RMD a/empty/", "250 RMD command successful.")
        self.assertFalse(os.path.exists(self.path("a", "empty")))
        self.assertReply("xrmd a", "250 RMD command successful.")
        self.assertEqual(os.listdir(self.root), [])


class DeleTest(FsCase):
    def test_directories_are_not_deleted(self):
        self.mkdir("sub")
        self.mkdir("empty")
        self.assertReply("DELE sub", "550 sub: The system cannot find the file specified.")
        self.assertReply("DELE empty/", "550 empty/: The system cannot find the file specified.")
        self.assertTrue(os.path.isdir(self.path("sub")))
        self.assertTrue(os.path.isdir(self.path("empty")))

    def test_missing_file_shows_slashes(self):
        self.mkdir("sub")
        self.assertReply("DELE nope", "550 nope: The system cannot find the file specified.")
        self.assertReply("DELE sub\\nope",
                         "550 sub/nope: The system cannot find the file specified.")

    def test_success_and_links(self):
        self.mkdir("sub")
        self.write("sub/a b.txt")
        self.write("sub/keep")
        self.assertReply("DELE sub/a b.txt", "250 DELE command successful.")
        self.assertFalse(os.path.exists(self.path("sub", "a b.txt")))
        # Deleting a link removes the link, never what it points to.
        os.symlink("sub", self.path("dirlink"))
        os.symlink("sub/keep", self.path("filelink"))
        self.assertReply("DELE dirlink", "250 DELE command successful.")
        self.assertReply("DELE filelink", "250 DELE command successful.")
        self.assertEqual(os.listdir(self.path("sub")), ["keep"])
        self.assertEqual(os.listdir(self.root), ["sub"])


class RenameTest(FsCase):
    def test_sequence_rules(self):
        self.write("a.txt")
        self.assertReply("RNTO b.txt", "503 Bad sequence of commands.")
        self.assertReply("RNFR nope", "550 nope: No such file or directory.")
        self.assertReply("RNTO b.txt", "503 Bad sequence of commands.")
        self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
        # A failed RNFR keeps the earlier source.
        self.assertReply("RNFR nope", "550 nope: No such file or directory.")
        self.assertReply("RNTO b.txt", "250 RNTO command successful.")
        self.assertTrue(os.path.exists(self.path("b.txt")))
        self.assertFalse(os.path.exists(self.path("a.txt")))
        self.assertReply("RNTO c.txt", "503 Bad sequence of commands.")

    def test_existing_target_is_never_replaced(self):
        self.write("a.txt", b"first")
        self.write("b.txt", b"second")
        self.mkdir("d")
        self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
        self.assertReply("RNTO b.txt",
                         "550 b.txt: Cannot create a file when that file already exists.")
        self.assertReply("RNTO c.txt", "503 Bad sequence of commands.")
        self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
        self.assertReply("RNTO d/", "550 d/: Cannot create a file when that file already exists.")
        self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
        self.assertReply("RNTO /", "550 /: Cannot create a file when that file already exists.")
        with open(self.path("a.txt"), "rb") as f:
            self.assertEqual(f.read(), b"first")
        with open(self.path("b.txt"), "rb") as f:
            self.assertEqual(f.read(), b"second")

    def test_forbidden_and_impossible_targets(self):
        self.write("a.txt")
        for name in ("bad:x", "star*", "new\x02line"):
            self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
            self.assertReply(f"RNTO {name}", f"550 {name}: Unable to rename file.")
            self.assertReply("RNTO again", "503 Bad sequence of commands.")
        self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
        self.assertReply("RNTO nodir/a.txt", "550 nodir/a.txt: Unable to rename file.")
        self.assertEqual(os.listdir(self.root), ["a.txt"])

    def test_moves_files_and_directories(self):
        self.mkdir("dir", "inner")
        self.write("dir/inner/x")
        self.mkdir("dest")
        self.write("f")
        self.assertReply("RNFR dir/", "350 File exists, ready for destination name.")
        self.assertReply("RNTO dest/moved dir/", "250 RNTO command successful.")
        self.assertTrue(os.path.exists(self.path("dest", "moved dir", "inner", "x")))
        self.assertReply("CWD dest", "250 CWD command successful.")
        self.assertReply("RNFR /f", "350 File exists, ready for destination name.")
        self.assertReply("RNTO ../g", "250 RNTO command successful.")
        self.assertTrue(os.path.exists(self.path("g")))

    def test_the_source_vanishing_meanwhile(self):
        self.write("a.txt")
        self.assertReply("RNFR a.txt", "350 File exists, ready for destination name.")
        os.remove(self.path("a.txt"))
        self.assertReply("RNTO b.txt", "550 b.txt: Unable to rename file.")
        self.assertReply("RNTO b.txt", "503 Bad sequence of commands.")


class SizeMdtmTest(FsCase):
    env = {"TZ": "EST5EDT"}

    def test_size(self):
        self.write("five", b"12345")
        self.write("empty", b"")
        self.mkdir("sub")
        self.assertReply("SIZE five", "213 5")
        self.assertReply("SIZE /empty", "213 0")
        self.assertReply("SIZE sub", "550 sub: not a plain file.")
        self.assertReply("SIZE /", "550 /: not a plain file.")
        self.assertReply("SIZE nope", "550 nope: No such file or directory.")

    def test_size_beyond_4_gib(self):
        try:
            with open(self.path("big"), "wb") as f:
                f.truncate(5 * 1024 ** 3)
        except OSError as e:
            self.skipTest(f"no sparse file: {e}")
        self.assertReply("SIZE big", "213 5368709120")

    def test_mdtm_in_utc(self):
        self.write("f")
        self.mkdir("d")
        os.utime(self.path("f"), (1000000000, 1000000000))
        os.utime(self.path("d"), (1700000000, 1700000000))
        self.assertReply("MDTM f", "213 20010909014640")
        self.assertReply("MDTM d/", "213 20231114221320")
        os.utime(self.path("f"), (0, 0))
        self.assertReply("MDTM f", "213 19700101000000")
        self.assertReply("MDTM nope", "550 nope: No such file or directory.")


class RestTest(FsCase):
    def test_offsets(self):
        for value in ("0", "100", "-5", "5368709120", "9223372036854775807"):
            self.assertReply(f"REST {value}",
                             f"350 Restarting at {value}.  Send STOR or RETR to initiate transfer.")
        for value in ("12a", "-", "1-2", "+5", "0x10", "99999999999999999999"):
            self.assertReply(f"REST {value}", f"500 'REST {value}': command not understood.")


class StatTest(FsCase):
    def test_status_without_argument(self):
        self.c.send("STAT\r\n")
        lines = self.c.reply()
        self.assertEqual(len(lines), 7, lines)
        self.assertRegex(lines[0], r"^211-\S+ FTP server status:$")
        self.assertRegex(lines[1], r"^    Version \S+-\S+ \(\S+\) \w{3} \w{3} \d\d "
                                   r"\d\d:\d\d:\d\d \d{4}$")
        self.assertRegex(lines[2], r"^    Connected to user-\S* \(127\.0\.0\.1\)$")
        self.assertEqual(lines[3], "    Logged in as tester")
        self.assertEqual(lines[4],
                         "    TYPE: ASCII, FORM: Nonprint; STRUcture: File; transfer MODE: Stream")
        self.assertEqual(lines[5], "    No data connection")
        self.assertEqual(lines[6], "211 End of status.")
        self.assertTrue(self.c.cmd("TYPE I").startswith("200 "))
        self.c.send("stat\r\n")
        lines = self.c.reply()
        self.assertEqual(lines[4], "    TYPE: Image; STRUcture: File; transfer MODE: Stream")

    def test_listing_on_the_control_connection(self):
        self.mkdir("sub", "inner")
        self.write("sub/a.txt", b"12345")
        self.c.send("STAT sub/\r\n")
        lines = self.c.reply()
        self.assertEqual(lines[0], "213-status of sub:")
        self.assertEqual(lines[-1], "213 End of status.")
        body = lines[1:-1]
        self.assertEqual(len(body), 2, lines)
        self.assertRegex(body[0], r"^d[rwx-]{9} .* inner$")
        self.assertRegex(body[1], r"^-[rwx-]{9} .* 5 .* a\.txt$")
        self.c.send("STAT sub/a.txt\r\n")
        lines = self.c.reply()
        self.assertEqual(lines[0], "213-status of sub/a.txt:")
        self.assertEqual(len(lines), 3, lines)
        self.assertTrue(lines[1].endswith(" sub/a.txt"), lines)
        self.assertEqual(self.c.cmd("NOOP"), "200 NOOP command successful.")


if __name__ == "__main__":
    unittest.main()
