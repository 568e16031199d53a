"""The metadata commands through real sessions: CHMOD and CHOWN on one entry, on a pattern and
with -R (never through a link), FRATIO on directories and files with the transfers it makes
free or cheaper, DUPEENABLE switching the dupe check, and DIRMIRROR queries."""

import os

from sitefs_support import NO_ACCESS, SiteFsCase
from vfs_support import owner_columns

KB = 1024


class SiteModes(SiteFsCase):
    @classmethod
    def build(cls, site):
        site.write("etc/group", site.read("etc/group") + "others;Others;300;0\n")
        cls.add_user("alice", 201, ratio=3)
        cls.add_user("bob", 202, ratio=1, credits=100000)
        cls.add_user("carol", 203, gid=300, group="others")
        for d in ("own/", "bobs/", "norec/", "tree/a/b/", "free/", "paid/", "up/", "d1/",
                  "d2/", "mirrored/"):
            cls.make(d)
        for f in ("own/f.txt", "own/g.txt", "norec/n.txt", "tree/t.txt", "tree/a/b/deep.txt"):
            cls.make(f, b"x" * 10)
        cls.make("free/big.bin", b"f" * 10 * KB)
        cls.make("paid/file.bin", b"p" * 10 * KB)
        outside = os.path.join(cls.tmp, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "o.txt"), "w") as f:
            f.write("o")
        os.symlink(outside, cls.site_dir("tree/out"))
        cls.records(
            ["own;1;rwxrwxrwx;201;100;;1;0", "bobs;2;rwxrwxrwx;202;100;;0;0",
             "tree;3;rwxrwxrwx;201;100;;0;0", "tree/a;4;rwxrwxrwx;201;100;;0;0",
             "up;5;rwxrwxrwx;201;100;1;0;0", "d1;6;rwxrwxrwx;201;100;;0;0",
             "d2;7;rwxrwxrwx;201;100;;0;0", "mirrored;8;rwxrwxrwx;201;100;;0;5",
             "paid;9;rwxrwxrwx;201;100;;0;0", "free;10;rwxrwxrwx;201;100;;0;0"],
            {1: ["f.txt;rw-rw-rw-;201;100;10;0", "g.txt;rw-rw-rw-;201;100;10;0"],
             3: ["t.txt;rw-r--r--;202;100;10;0"],
             9: [f"file.bin;rw-r--r--;201;100;{10 * KB};0"],
             10: [f"big.bin;rw-r--r--;201;100;{10 * KB};0"]})

    def walk(self, client, replies):
        for command, reply in replies:
            self.assertEqual(self.ask(client, command), [reply], command)

    def test_1_chmod_and_chown(self):
        op, alice = self.raw(), self.raw("alice")
        self.walk(alice, [
            ("SITE CHMOD 755 own", "200 CHMOD command successful."),
            ("SITE CHMOD 640 own/*.txt", "200 CHMOD command successful."),
            ("SITE CHMOD 755 bobs", NO_ACCESS),
            ("SITE CHMOD -R 755 own", NO_ACCESS),
            ("SITE CHMOD 700 norec", NO_ACCESS),
            ("SITE CHMOD 999 own", "502 999: Invalid mask (must be [0-7][0-7][0-7])."),
            ("SITE CHMOD 75 own", "502 75: Invalid mask (must be [0-7][0-7][0-7])."),
            ("SITE CHMOD -x 755 own", "501 -x: Invalid option."),
            ("SITE CHMOD 755 nosuch", "505 nosuch: No such file or directory."),
            ("SITE CHOWN bob own", NO_ACCESS),
        ])
        self.walk(op, [
            ("SITE CHMOD 700 norec", "200 CHMOD command successful."),
            ("SITE CHMOD -R 750 tree", "200 CHMOD command successful."),
            ("SITE CHOWN bob own", "200 CHOWN command successful."),
            ("SITE CHOWN :others own/f.txt", "200 CHOWN command successful."),
            # An unknown group is refused, not taken for the default group.
            ("SITE CHOWN :typo own", "504 typo: Invalid group."),
            ("SITE CHOWN nobody:others own", "503 nobody: Invalid user."),
            ("SITE CHOWN -x bob own", "501 -x: Invalid option."),
            ("SITE CHOWN bob nosuch", "505 nosuch: No such file or directory."),
            ("SITE CHOWN carol norec/n.txt", "200 CHOWN command successful."),
            ("SITE CHOWN -R carol:others tree", "200 CHOWN command successful."),
        ])
        self.assertEqual(self.ask(op, "SITE CHMOD 755")[-1], "200 Command Successful.")
        listing = {n: owner_columns(line) for n, line in self.listing(self.ftp()).items()}
        self.assertEqual(listing["own"][:3], ("drwxr-xr-x", "bob", "users"))
        self.assertEqual(listing["norec"][:3], ("drwx------", "orvex", "siteops"))
        files = {n: owner_columns(line) for n, line in self.listing(self.ftp(), "own").items()}
        self.assertEqual(files["f.txt"][:3], ("-rw-r-----", "alice", "others"))
        self.assertEqual(files["g.txt"][:3], ("-rw-r-----", "alice", "users"))
        # An entry without a record gets one that opens nothing.
        n = owner_columns(self.listing(self.ftp(), "norec")["n.txt"])
        self.assertEqual(n[:3], ("-r--r--r--", "carol", "siteops"))

        self.sync(op)
        dirs = self.directory_records()
        # The mode and owner change; ratio, dupe switch and mirror id stay.
        self.assertEqual(dirs["own"], ("1", "rwxr-xr-x", "202", "100", "-1", "1", "0"))
        self.assertEqual(dirs["tree"][1:4], ("rwxr-x---", "203", "300"))
        self.assertEqual(dirs["tree/a"][1:4], ("rwxr-x---", "203", "300"))
        self.assertEqual(dirs["tree/a/b"][1:4], ("rwxr-x---", "203", "300"))
        self.assertEqual(self.file_records(3)["t.txt"][:3], ("rwxr-x---", "203", "300"))
        self.assertNotIn("tree/out", dirs, "the link is not an entry of the site")
        self.assertEqual(self.file_records(dirs["tree/a/b"][0])["deep.txt"][:3],
                         ("rwxr-x---", "203", "300"))
        self.assertFalse(self.site.read("fs/orvex.fs").count("outside"))

    def test_2_ratios_dupes_and_mirrors(self):
        op, bob = self.raw(), self.ftp("bob")
        self.walk(op, [
            ("SITE FRATIO up", "200 up: Directory is using ratio 1:1."),
            ("SITE FRATIO paid", "200 paid: Directory is using default ratio."),
            ("SITE FRATIO 10 paid", "501 Directory ratio must be between -1 and 9."),
            ("SITE FRATIO 0 free", "200 free: Directory ratio changed to free (leech)."),
            ("SITE FRATIO free", "200 free: Directory is free (leech)."),
            ("SITE FRATIO 2 paid", "200 paid: Directory ratio changed to 1:2."),
            ("SITE FRATIO -1 paid", "200 paid: Directory ratio changed to default."),
            ("SITE FRATIO paid/file.bin", "200 paid/file.bin: File is using default ratio."),
            ("SITE FRATIO 5 paid/file.bin", "503 File ratio can only be 0 or -1."),
            ("SITE FRATIO 0 paid/file.bin", "200 paid/file.bin: File ratio changed to free."),
            ("SITE FRATIO paid/file.bin", "200 paid/file.bin: File is free."),
            ("SITE FRATIO 0 nosuch", "505 nosuch: No such file or directory."),
        ])
        # Free directory and free file: downloads cost nothing.
        self.download(bob, "free/big.bin")
        self.download(bob, "paid/file.bin")
        self.assertEqual(self.credits("bob"), 100000)
        self.walk(op, [("SITE FRATIO -1 paid/file.bin",
                        "200 paid/file.bin: File ratio changed to default.")])
        self.download(bob, "paid/file.bin")
        self.assertEqual(self.credits("bob"), 100000 - 10)
        # Ratio 1 in "up": alice (ratio 3) earns once her size instead of three times.
        self.upload(self.ftp("alice"), "up/new.bin", 20 * KB)
        self.assertEqual(self.credits("alice"), 20)

        alice = self.ftp("alice")
        self.upload(alice, "d1/x.rar", 10)
        dupe = self.refused(self.upload, bob, "d2/x.rar", 10)
        self.assertTrue(dupe.startswith("553"), dupe)
        self.walk(op, [
            ("SITE DUPEENABLE d2", "200 d2: Dupe checking disabled."),
            ("SITE DUPEENABLE own/f.txt", "501 own/f.txt: Not a directory."),
            ("SITE DUPEENABLE nosuch", "501 nosuch: No such file or directory."),
        ])
        self.upload(bob, "d2/x.rar", 10)
        self.walk(op, [("SITE DUPEENABLE d2", "200 d2: Dupe checking enabled.")])
        self.assertTrue(self.refused(self.upload, alice, "d2/x.rar", 10).startswith("553"))

        self.walk(op, [
            ("SITE DIRMIRROR own", "200 own: Directory is using none/default mirror ID."),
            ("SITE DIRMIRROR mirrored", "200 mirrored: Directory is using mirror ID 5."),
            ("SITE DIRMIRROR 3 own", "501 Invalid mirror ID."),
            ("SITE DIRMIRROR x own", "502 x own: Not a valid directory."),
            ("SITE DIRMIRROR 0 mirrored", "200 mirrored: Directory mirror ID changed to "
                                          "none/default."),
            ("SITE DIRMIRROR own/f.txt", "502 own/f.txt: Not a valid directory."),
        ])
        self.assertEqual(self.ask(self.raw("alice"), "SITE FRATIO 0 paid"), [NO_ACCESS])
        self.sync(op)
        dirs = self.directory_records()
        self.assertEqual(dirs["free"][1:], ("rwxrwxrwx", "201", "100", "0", "0", "0"))
        self.assertEqual(dirs["d2"][5], "0")
        self.assertEqual(dirs["mirrored"][6], "0")
