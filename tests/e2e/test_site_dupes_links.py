"""The dupe log and directory links through real sessions: DUPE with its options and errors,
UNDUPE masks, LINK with a braced name and with -A, the LINKS box, RMLINK, and what reaches
the dupelog and links files."""

import os
import time

from sitefs_support import NO_ACCESS, SiteFsCase

FEB_2003 = int(time.mktime((2003, 2, 9, 12, 0, 0, 0, 0, -1)))
NOW = int(time.time())


def shown(t):
    return time.strftime("%m/%d/%Y %H:%M:%S", time.localtime(t))


class SiteDupesLinks(SiteFsCase):
    @classmethod
    def build(cls, site):
        cls.add_user("alice", 201)
        cls.add_user("bob", 202)
        cls.add_user("pleb", 205)
        site.write("ftp-data/logs/dupelog", "".join(
            f"{name};{uid};{t}\n" for name, uid, t in (
                ("a.rar", 201, FEB_2003), ("b.rar", 202, NOW - 100), ("c.nfo", 201, NOW - 90),
                ("d.nfo", 999, NOW - 80), ("E.NFO", 201, NOW - 70), ("f.zip", 202, NOW - 60))))
        cls.real = os.path.join(cls.tmp, "real music")
        os.makedirs(cls.real)
        with open(os.path.join(cls.real, "song.mp3"), "wb") as f:
            f.write(b"la" * 50)
        cls.make("pub/inner/")
        os.symlink(cls.tmp, cls.site_dir("away"))
        site.write("etc/links", f"{os.path.join(cls.tmp, 'elsewhere')}/x;{cls.tmp}\n")

    def test_1_dupe_and_undupe(self):
        op = self.raw()
        with open(self.site.path("ftp-data/help/site.dupe")) as f:
            help_lines = ["200- " + line for line in f.read().splitlines()]
        self.assertEqual(self.ask(op, "SITE DUPE"), help_lines + ["200 Command Successful."])
        self.assertEqual(self.ask(op, "SITE DUPE *.rar"), [
            f"200- b.rar: Added by bob on {shown(NOW - 100)}",
            f"200- a.rar: Added by alice on {shown(FEB_2003)}",
            "200-", "200 2 of 2 dupes listed."])
        self.assertEqual(self.ask(op, "SITE DUPE -MAX 1 *.rar f*"), [
            f"200- f.zip: Added by bob on {shown(NOW - 60)}", "200-", "200 1 of 3 dupes listed."])
        self.assertEqual(len(self.ask(op, "SITE DUPE -max 0 *")), 8)
        # 020903 is 9 February 2003; an uploader without an account has no name.
        self.assertEqual(self.ask(op, "SITE DUPE -from 020903 -to 020903 *"), [
            f"200- a.rar: Added by alice on {shown(FEB_2003)}", "200-",
            "200 1 of 1 dupes listed."])
        self.assertEqual(self.ask(op, "SITE DUPE -from 021003 d.nfo")[0],
                         f"200- d.nfo: Added by  on {shown(NOW - 80)}")
        refusals = [
            ("SITE DUPE -max x *", '501 Invalid "-max" parameter.'),
            ("SITE DUPE -max -3 *", '501 Invalid "-max" parameter.'),
            ("SITE DUPE -from 2003 *", '502 The "-from" parameter must be in the form "mmddyy" '
                                       '(Ex. 020903).'),
            ("SITE DUPE -to abcdef *", '503 The "-to" parameter must be in the form "mmddyy" '
                                       '(Ex. 020903).'),
            ("SITE DUPE *.rar -max 5", "505 No search filenames were specified."),
        ]
        for command, reply in refusals:
            self.assertEqual(self.ask(op, command), [reply], command)

        self.assertEqual(self.ask(self.raw("pleb"), "SITE UNDUPE a.rar"), [NO_ACCESS])
        self.assertEqual(self.ask(op, "SITE UNDUPE *.nfo"), ["200 2 dupes deleted."])
        self.assertEqual(self.ask(op, "SITE UNDUPE pub/a.rar"), ["200 1 dupe deleted."])
        self.assertEqual(self.ask(op, "SITE UNDUPE a.rar"), ["200 0 dupes deleted."])
        self.sync(op)
        names = [line.split(";")[0] for line in self.site.read("ftp-data/logs/dupelog")
                 .splitlines() if line and not line.startswith("#")]
        self.assertEqual(names, ["b.rar", "E.NFO", "f.zip"])

    def test_2_links(self):
        op = self.raw()
        self.assertEqual(self.ask(op, f"SITE LINK {{music}} -A {self.real}"),
                         ["200 Link (music) successfully created."])
        self.assertEqual(self.ask(op, "SITE LINK {pub/my link} pub/inner"),
                         ["200 Link (pub/my link) successfully created."])
        refusals = [
            (f"SITE LINK {{music}} -A {self.real}", "506 Link 'music' already exists."),
            ("SITE LINK {x} nosuch", "504 nosuch: Invalid source directory."),
            ("SITE LINK {x} -A /no/such/dir", "504 /no/such/dir: Invalid source directory."),
            ("SITE LINK {x y", "502 } not found in directory name."),
            ("SITE LINK {} y", "501 No target directory was specified"),
            ("SITE LINK {x y}", "503 Missing source directory."),
            ("SITE LINK {away/x} pub/inner", "505 Unable to create link."),
        ]
        for command, reply in refusals:
            self.assertEqual(self.ask(op, command), [reply], command)
        self.assertEqual(self.ask(self.raw("pleb"), "SITE LINKS"), [NO_ACCESS])

        row = " | /%-27s | %-39s |"
        self.assertEqual(self.ask(op, "SITE LINKS"), ["200-" + line for line in [
            " .------------------------------------------------------------------------.",
            " | LinkName                       DirectoryPath                           |",
            " |------------------------------+-----------------------------------------|",
            # The real directories as stored, with their trailing separator.
            row % ("music", self.real + "/"), row % ("pub/my link", self.site_dir("pub/inner/")),
            " |------------------------------+-----------------------------------------|",
            " |   2 Total links                                                        |",
            " `------------------------------------------------------------------------'",
        ]] + ["200 Command successful."])
        # The link's place need not exist: CWD reaches the real directory through it.
        self.assertEqual(op.cmd("CWD music"), "250 CWD command successful.")
        self.assertEqual(op.cmd("PWD"), '257 "/music/" is current directory.')
        self.assertIn("song.mp3", self.listing(self.ftp(), "music"))
        self.assertEqual(op.cmd("CWD /"), "250 CWD command successful.")

        self.assertEqual(self.ask(op, "SITE RMLINK music"), ["200 Link (music) deleted."])
        self.assertEqual(self.ask(op, "SITE RMLINK music"), ["501 Link 'music' does not exist."])
        lines = [line for line in self.site.read("etc/links").splitlines()
                 if line and not line.startswith("#")]
        self.assertEqual(len(lines), 2)
        self.assertTrue(lines[1].startswith(self.site_dir("pub/my link").replace("/", "\\")) or
                        lines[1].startswith(self.site_dir("pub/my link")), lines)
