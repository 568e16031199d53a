"""The virtual filesystem through real sessions: owners, groups and modes from the records in
listings and permission decisions, the owner rules of DELE, RMD and RNFR, names the tables cannot
hold, the dupe check, directory links, the CWD limits and notices, and auth_mode."""

import os
import re

from harness import RawClient
from vfs_support import VfsCase, owner_columns

LONG_A, LONG_B = "a" * 200, "b" * 200
DUPE_LINES = re.compile(r"^553- x\.rar: file was uploaded by alice \(0m \ds ago\)\.\n"
                        r"553 This file looks like a dupe\.$")


class SiteSession(VfsCase):
    @classmethod
    def build(cls, site):
        site.write("etc/group", site.read("etc/group") + "others;Others;300;0\n")
        cls.add_user("alice", 201)
        cls.add_user("bob", 202)
        cls.add_user("carol", 203, gid=300, group="others")
        for d in ("own/", "grp/", "all/", "nox/", "plain/", "nodupe/",
                  f"deep/{LONG_A}/{LONG_B}/"):
            cls.make(d)
        cls.make("all/readme.txt", b"12345")
        cls.make("all/open.txt", b"open")
        cls.records(["own;1;rwx------;201;100;;0;0", "grp;2;---rwx---;201;100;;0;0",
                     "all;3;------rwx;201;100;;0;0", "nox;4;rw-rw-rw-;201;100;;0;0",
                     "nodupe;5;------rwx;201;100;;1;0"],
                    {3: ["readme.txt;-w-------;201;100;5;0"]})
        real = os.path.join(cls.tmp, "music-real")
        os.makedirs(real)
        with open(os.path.join(real, "song.mp3"), "wb") as f:
            f.write(b"la" * 100)
        site.write("etc/links", f"{cls.site_dir('music')};{real}\n")
        site.write("ftp-data/msgs/bob", "hello\n")
        site.write("ftp-data/misc/goodbye.msg", "See you.\n")

    def test_modes_owners_and_groups(self):
        top = {n: owner_columns(l) for n, l in self.listing(self.ftp()).items()}
        self.assertEqual(top["own"], ("drwx------", "alice", "users", 0))
        self.assertEqual(top["grp"], ("d---rwx---", "alice", "users", 0))
        self.assertEqual(top["plain"], ("dr-xr-xr-x", "system", "system", 0))
        files = {n: owner_columns(l) for n, l in self.listing(self.ftp("carol"), "all").items()}
        self.assertEqual(files["readme.txt"], ("--w-------", "alice", "users", 5))
        self.assertEqual(files["open.txt"], ("-r--r--r--", "system", "system", 4))

        # w on the parent for MKD: the owner, group and other triples, and flag 1 over all.
        may = {"own": {"alice", "orvex"}, "grp": {"alice", "bob", "orvex"},
               "all": {"alice", "bob", "carol", "orvex"}, "plain": {"orvex"}}
        for user in ("alice", "bob", "carol", "orvex"):
            c = self.raw(user)
            for d, allowed in may.items():
                want = (f'257 "{d}/m-{user}" new directory created.' if user in allowed
                        else f"550 {d}/m-{user}: Permission denied.")
                self.assertEqual(c.cmd(f"MKD {d}/m-{user}"), want)
            self.assertEqual(c.cmd("CWD nox"), "250 CWD command successful." if user == "orvex"
                             else "550 nox/: Permission denied.")
        # A siteop's upload into an unrecorded directory does not open it to others.
        self.upload(self.ftp(), "plain/by-op.bin", 1)
        self.assertEqual(self.raw("carol").cmd("MKD plain/late"),
                         "550 plain/late: Permission denied.")
        self.assertEqual(self.refused(self.download, self.ftp("carol"), "all/readme.txt"),
                         "550 all/readme.txt: Permission denied.")
        self.assertEqual(self.download(self.ftp("carol"), "all/open.txt")[1], b"open")
        self.assertEqual(self.download(self.ftp(), "all/readme.txt")[1], b"12345")

    def test_only_owners_and_siteops_remove_or_rename(self):
        alice, bob, op = self.raw("alice"), self.raw("bob"), self.raw()
        self.upload(self.ftp("alice"), "all/a.txt", 10)
        self.assertEqual(alice.cmd("MKD all/adir"), '257 "all/adir" new directory created.')
        # Everybody may write there, but only the owner may take the entry away.
        self.assertEqual(bob.cmd("RMD all/adir"), "550 all/adir: Permission denied.")
        self.assertEqual(bob.cmd("RNFR all/adir"), "550 all/adir: Permission denied.")
        self.assertEqual(bob.cmd("DELE all/a.txt"), "550 all/a.txt: Permission denied.")
        self.assertEqual(bob.cmd("DELE pub/README.txt"), "550 pub/README.txt: Permission denied.")
        self.assertEqual(alice.cmd("RNFR all/adir"), "350 File exists, ready for destination name.")
        self.assertEqual(alice.cmd("RNTO all/bdir"), "250 RNTO command successful.")
        self.assertEqual(owner_columns(self.listing(self.ftp(), "all")["bdir"])[1], "alice")
        self.assertEqual(op.cmd("DELE all/a.txt"), "250 DELE command successful.")
        self.assertEqual(op.cmd("RMD all/none"), "550 all/none: No such file of directory.")
        self.assertEqual(alice.cmd("RMD all/bdir"), "250 RMD command successful.")

    def test_names_keep_their_case_and_tables_keep_their_lines(self):
        alice, bob = self.raw("alice"), self.raw("bob")
        self.assertEqual(alice.cmd("MKD all/Foo"), '257 "all/Foo" new directory created.')
        self.assertEqual(bob.cmd("MKD all/foo"), '257 "all/foo" new directory created.')
        self.upload(self.ftp("alice"), "nodupe/README", 3)
        self.upload(self.ftp("bob"), "nodupe/readme", 4)
        entries = self.listing(self.ftp(), "all")
        self.assertEqual(owner_columns(entries["Foo"])[1], "alice")
        self.assertEqual(owner_columns(entries["foo"])[1], "bob")
        owners = {n: owner_columns(l)[1] for n, l in self.listing(self.ftp(), "nodupe").items()}
        self.assertEqual((owners["README"], owners["readme"]), ("alice", "bob"))
        self.assertEqual(bob.cmd("RMD all/Foo"), "550 all/Foo: Permission denied.")

        # Renames never replace, and names with ";" or "#" never become entries.
        self.assertEqual(alice.cmd("RNFR all/Foo"), "350 File exists, ready for destination name.")
        self.assertEqual(alice.cmd("RNTO all/foo"),
                         "550 all/foo: Cannot create a file when that file already exists.")
        self.assertEqual(alice.cmd("MKD all/a;b"), "550 all/a;b: Unable to create directory.")
        self.assertEqual(self.refused(self.upload, self.ftp("alice"), "all/x#y", 1),
                         "553 all/x#y: The system cannot write to the file specified.")
        alice.cmd("RNFR all/Foo")
        self.assertEqual(alice.cmd("RNTO all/c;d"), "550 all/c;d: Unable to rename file.")
        for name in ("a;b", "x#y", "c;d"):
            self.assertFalse(os.path.exists(self.site_dir("all/" + name)))

    def test_dupes(self):
        self.upload(self.ftp("alice"), "all/x.rar", 10)
        bob = self.ftp("bob")
        for cmd in ("STOR", "APPE", "STOU"):
            self.assertRegex(self.refused(self.upload, bob, "grp/x.rar", 1, None, cmd), DUPE_LINES)
        self.assertFalse(os.path.exists(self.site_dir("grp/x.rar")))
        # Ignored types and directories that switch checking off take the name again.
        self.upload(self.ftp("alice"), "all/x.nfo", 1)
        self.upload(bob, "grp/x.nfo", 1)
        self.upload(bob, "nodupe/x.rar", 1)

    def test_links_and_cwd(self):
        bob = self.raw("bob")
        self.assertEqual(bob.cmd("CWD music"), "250 CWD command successful.")
        self.assertEqual(bob.cmd("PWD"), '257 "/music/" is current directory.')
        f = self.ftp("bob")
        f.cwd("music")
        self.assertEqual(list(self.listing(f)), ["song.mp3"])
        self.assertEqual(self.download(f, "song.mp3")[1], b"la" * 100)
        self.assertEqual(self.download(f, "/music/song.mp3")[1], b"la" * 100)
        self.assertEqual(f.size("song.mp3"), 200)
        f.cwd("/")
        self.assertIn("README.txt", self.listing(f, "pub"))
        # MLSD and MLST reach through the link as LIST does.
        self.assertEqual([name for name, _ in f.mlsd("music")], ["song.mp3"])
        self.assertIn("size=200;", f.sendcmd("MLST music/song.mp3"))
        op = self.raw()
        op.cmd("CWD music")
        self.assertEqual(op.cmd("RMD ."), "500 Cannot delete the root directory.")

        # The INBOX notice comes with every CWD; the site directory stays within 256 characters.
        bob.send(f"CWD /deep/{LONG_A}\r\n")
        self.assertEqual(bob.reply(), [
            "250- You have messages in INBOX. Type SITE MSG READ to read them.",
            "250 CWD command successful."])
        self.assertEqual(bob.cmd(f"CWD {LONG_B}"), "531 CWD cannot exceed 256 characters.")
        self.assertEqual(bob.cmd("PWD"), f'257 "/deep/{LONG_A}/" is current directory.')
        self.assertEqual(bob.cmd("CWD nowhere"), "550 nowhere: No such file or directory.")
        bob.send("QUIT\r\n")
        self.assertEqual(bob.reply(), ["221- See you.", "221 Exit."])

    def test_auth_mode_one_refuses_clear_control_connections(self):
        def user_reply():
            # Closed at once: probes left open would count against the address's limit of
            # connections waiting to log in, and later tests would meet 421.
            c = self.connect_raw()
            try:
                return c.cmd("USER bob")
            finally:
                c.close()
        self.site.set_conf(auth_mode="1")
        try:
            self.assertTrue(self.eventually(
                lambda: user_reply() == "501 Clear control connections are not allowed."))
        finally:
            self.site.set_conf(auth_mode="0")
        self.assertTrue(self.eventually(lambda: user_reply() == "331 Password required for bob."))

    def connect_raw(self):
        c = RawClient(self.port, timeout=10)
        self.addCleanup(c.close)
        c.reply()
        return c
