"""The reports and maintenance commands through real sessions: DIRINFO (plain and -R, through a
circular link that is never followed), NEW, SEARCH with its options, the result limit, the depth
limit and directory links, DISKINFO from the path's own filesystem, and FSCK, FSSYNC, FSINFO."""

import os
import re
import shutil

from sitefs_support import NO_ACCESS, SiteFsCase

MB = 1024 * 1024
DEEP = "/".join(f"d{i}" for i in range(1, 21))


def continued(*texts):
    return ["200-" + t for t in texts]


class SiteDirReports(SiteFsCase):
    @classmethod
    def build(cls, site):
        cls.add_user("alice", 201)
        cls.add_user("bob", 202)
        cls.add_user("pleb", 205)
        for d in ["rels/one/", "older/", "music/rock/Best Of/", "music/jazz/", "music/private/",
                  "music/linked/", f"deep/{DEEP}/"] + [f"wide/w{i:02d}/" for i in range(25)]:
            cls.make(d)
        cls.make("rels/a.bin", b"a" * 2048)
        cls.make("rels/b.bin", b"b" * 1024)
        cls.make("rels/c.txt", b"c" * 100)
        cls.make("rels/one/x.bin", b"x" * 4096)
        cls.make("music/rock/song.mp3", b"s")
        cls.make("music/jazz/tune.mp3", b"t")
        os.symlink("..", cls.site_dir("rels/loop"))
        os.symlink(cls.site_dir("music"), cls.site_dir("music/loop"))
        outside = os.path.join(cls.tmp, "outside")
        os.makedirs(os.path.join(outside, "found-outside"))
        with open(os.path.join(outside, "secret.mp3"), "w") as f:
            f.write("s")
        os.symlink(outside, cls.site_dir("music/outside"))
        linked = os.path.join(cls.tmp, "linkreal")
        os.makedirs(os.path.join(linked, "found-via-link"))
        links = f"{cls.site_dir('music/linked')};{linked}\n"
        cls.shm = "/dev/shm"
        if os.path.isdir(cls.shm) and os.stat(cls.shm).st_dev != os.stat(cls.tmp).st_dev:
            links += f"{cls.site_dir('shm')};{cls.shm}\n"
        else:
            cls.shm = None
        site.write("etc/links", links)
        cls.records(
            ["rels;1;rwxrwxrwx;201;100;2;0;0", "rels/one;2;rwxrwxrwx;201;100;;0;0",
             "older;3;rwxrwxrwx;202;100;;0;0", "gone;4;rwxrwxrwx;202;100;;0;0",
             "music/private;5;rwx------;201;100;;0;0", "music;6;rwxrwxrwx;201;100;;0;0"],
            {1: ["a.bin;rw-r--r--;201;100;2048;0", "b.bin;rw-r--r--;202;100;1024;0"],
             2: ["x.bin;rw-r--r--;201;100;4096;0"]})

    def test_1_dirinfo_and_new(self):
        op = self.raw()
        row = " | %-26s | %-10.0f | %-10.0f | %-11.1f |"
        head = [" .-=----------------------------------------------------------------=-.",
                " |                       Directory Information                        |",
                " |-=----------------------------------------------------------------=-|"]
        rows = [" |                                                                    |",
                " | Owner                        Files        Directories  Size (Kb)   |",
                " |----------------------------+------------+------------+-------------|"]
        foot = " `-=----------------------------------------------------------------=-'"
        created = re.compile(r"^200- \| Created: \w{3}, \w+ \d{2}, \d{4}, \d{2}:\d{2}:\d{2} "
                             r"[AP]M \S+ +\|$")
        for command, mode, files, size, alice in (
                ("SITE DIRINFO rels", "Non-recursive", 4, 3172, (1, 1, 2048)),
                ("SITE DIRINFO -R rels", "Recursive", 5, 7268, (2, 1, 6144))):
            reply = self.ask(op, command)
            self.assertRegex(reply[7], created)
            del reply[7]
            # The link back to the root is an entry of no size, never a way down.
            self.assertEqual(reply, continued(*head, *[
                " | Total Files: %-12.0f      Total Directories: %-10.0f       |" % (files, 1),
                " | Total Size (Kb): %-12.1f  Total Users: %-10u             |" % (size / 1024, 2),
                " | Mode: %-24s Ratio: %-28s |" % (mode, "1:2"),
                " | Owner: %-22s  MirrorID: %-25s |" % ("alice", "None/Default"),
                *rows, row % ("alice", *alice[:2], alice[2] / 1024), row % ("bob", 1, 0, 1),
                row % ("system", 2, 0, 100 / 1024), foot]) + ["200 Command Successful."])
        self.assertEqual(self.ask(op, "SITE DIRINFO nosuch"),
                         ["502 nosuch: No such file or directory."])
        self.assertEqual(self.ask(op, "SITE DIRINFO rels/a.bin"),
                         ["502 rels/a.bin: Not a directory."])

        self.assertEqual(op.cmd("MKD fresh"), '257 "fresh" new directory created.')
        reply = self.ask(op, "SITE NEW")
        self.assertEqual(reply[:3], continued(
            " ---------------------------------------------------------------------------",
            "  ## |  Age  | Owner   |Files    Size| Directory Name                       ",
            " ----+-------+---------|-------------|--------------------------------------"))
        listed = [("orvex", "=Empty= ", "fresh"), ("alice", "   4     0.0M", "music"),
                  ("alice", "=Empty= ", "private"), ("bob", "=Empty= ", "older"),
                  ("alice", "   1     0.0M", "one"), ("alice", "   5     0.0M", "rels")]
        self.assertEqual(len(reply), 3 + len(listed) + 4 + 1, reply)
        for n, (owner, size, name) in enumerate(listed, 1):
            self.assertRegex(reply[2 + n], r"^200- \[%02d\] .{7} " % n +
                             re.escape("%-9s %13s %-38s" % (owner, size, name)) + "$")
        self.assertEqual(reply[-5:], continued(
            " ---------------------------------------------------------------------------", "",
            " NOTE: This list is ordered by when the directory was added to the ORVEX    ",
            "       filesystem, which is not necessarily when it was created.            ") +
            ["200 Command Successful."])
        self.assertEqual(len(self.ask(op, "SITE NEW 2")), 3 + 2 + 4 + 1)
        self.assertIn(" one ", self.ask(op, "SITE NEW 5 rels")[3])
        self.assertEqual(self.ask(op, "SITE NEW rels/a.bin"), ["501 rels/a.bin: Not a directory."])
        self.assertEqual(self.ask(op, "SITE NEW 3 nosuch"),
                         ["502 nosuch: No such file or directory."])

    def test_2_search(self):
        op, pleb = self.raw(), self.raw("pleb")
        searches = [
            # Neither link in music is followed: not the loop, not the way outside.
            ("SITE SEARCH {music} *o*", [" rock/"]),
            ("SITE SEARCH -f {music} *.mp3", [" jazz/tune.mp3", " rock/song.mp3"]),
            ("SITE SEARCH -f -1 {music} *.mp3", [" jazz/tune.mp3"]),
            ("SITE SEARCH {music} found*", []),
            ("SITE SEARCH -l {music} found*", [" linked/found-via-link/"]),
            ("SITE SEARCH {wide} w*", [f" w{i:02d}/" for i in range(20)]),
        ]
        for command, found in searches:
            self.assertEqual(self.ask(op, command), continued(*found) +
                             ["200 Command Successful."], command)
        chain = [" " + "/".join(DEEP.split("/")[:n]) + "/" for n in range(1, 17)]
        self.assertEqual(self.ask(op, "SITE SEARCH -99 {deep} d*"), continued(
            *chain, " WARNING: Max directory depth reached (16).") + ["200 Command Successful."])
        self.assertEqual(self.ask(op, "SITE SEARCH -l -99 {deep} d*")[-2],
                         "200- WARNING: Max directory depth reached (16) --possible circular "
                         "links.")
        self.assertEqual(self.ask(pleb, "SITE SEARCH {music} *"), continued(
            " jazz/", " linked/", " private/", " private: Permission denied.", " rock/",
            " rock/Best Of/") +
            ["200 Command Successful."])
        refusals = [
            ("SITE SEARCH -f", "503 No search string specified."),
            ("SITE SEARCH {music}", "503 No search string specified."),
            ("SITE SEARCH {nosuch} x", "504 nosuch: No such file or directory."),
            # A link out of the site is as good as missing, with directory links or without.
            ("SITE SEARCH -l {music/outside} x", "504 music/outside: No such file or directory."),
            ("SITE SEARCH {rels/a.bin} x", "504 rels/a.bin: Not a directory."),
            ("SITE SEARCH {music x", "502 } not found in directory name."),
            ("SITE SEARCH {} x", "501 No directory was specified."),
        ]
        for command, reply in refusals:
            self.assertEqual(self.ask(op, command), [reply], command)

    def disk_lines(self, path):
        st = os.statvfs(path)
        return (" Total disk space: %12.2f MB" % (st.f_blocks * st.f_frsize / MB),
                st.f_bavail * st.f_frsize / MB)

    def test_3_diskinfo_and_maintenance(self):
        op, pleb = self.raw(), self.raw("pleb")
        for typed, real in (("", self.site_dir()), (" rels", self.site_dir("rels")),
                            (" shm", self.shm)):
            if real is None:
                continue
            reply = self.ask(op, "SITE DISKINFO" + typed)
            total, free = self.disk_lines(real)
            self.assertEqual(reply[0], "200-" + total, typed)
            m = re.match(r"^200- Free disk space : +(\d+\.\d\d) MB$", reply[1])
            self.assertAlmostEqual(float(m.group(1)), free, delta=64)
            self.assertEqual(reply[2:], ["200 Command Successful."])
        self.assertEqual(self.ask(pleb, "SITE DISKINFO"), [NO_ACCESS])

        info = re.compile(r"^200- \| Last (Synch|Check): \w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} "
                          r"\d{4} {23}\|$")
        reply = self.ask(pleb, "SITE FSINFO")
        self.assertEqual(reply[0],
                         "200- +-----------------[ FileSystem Information ]-----------------+")
        self.assertRegex(reply[1], info)
        self.assertRegex(reply[2], info)
        self.assertEqual(reply[3:], [
            "200- +------------------------------------------------------------+",
            "200 Command Successful."])
        self.assertEqual(self.ask(pleb, "SITE FSCK"), [NO_ACCESS])
        self.assertEqual(self.ask(pleb, "SITE FSSYNC"), [NO_ACCESS])
        # The check finds the record of a directory removed behind the server's back.
        shutil.rmtree(self.site_dir("older"))
        self.assertIn("older", self.directory_records())
        self.assertEqual(self.ask(op, "SITE FSCK"), ["200 Filesystem check successfully started."])
        self.assertTrue(self.eventually(lambda: "older" not in self.directory_records()))
        self.sync(op)
        self.assertIn("rels", self.directory_records())
