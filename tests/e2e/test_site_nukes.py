"""SITE NUKE and UNNUKE through real sessions: the charges by owner with the exact reply and
nuke.log lines, the empty-directory penalty, the multiplier rules, the three nuke modes, trees
that are never left through a symbolic link, and renames that never replace a directory."""

import os

from sitefs_support import MB, NO_ACCESS, SiteFsCase

DASH = " " + "-" * 73
NUKE_OWNER = " Nukee: %-12s Bytes: %8.2fMB  Credit Lost: %9.2fMB"


def lines(*texts):
    return ["200-" + t for t in texts]


class SiteNukes(SiteFsCase):
    @classmethod
    def build(cls, site):
        cls.add_user("alice", 201, ratio=3, credits=10000)
        cls.add_user("bob", 202, ratio=0, credits=500)
        cls.add_user("carol", 203, ratio=1, credits=5000)
        cls.add_user("nuker", 204, flags="A")
        cls.add_user("pleb", 205, ratio=1)
        cls.add_user("whale", 206, ratio=2)
        for d in ("rel/sample/", "empty/", "zero/", "clash/", "NUKED-clash/", "mode0/",
                  "mode2/sub/", "probe/", "my rel/", "big/", "byflag/", "NUKED-fake/"):
            cls.make(d)
        cls.make("rel/a1.bin", b"a" * MB)
        cls.make("rel/a2.bin", b"a" * MB)
        cls.make("rel/b.bin", b"b" * MB)
        cls.make("rel/readme.nfo", b"r" * 100)
        cls.make("zero/c.bin", b"c" * MB)
        cls.make("mode0/a.bin", b"a" * MB)
        cls.make("mode2/sub/a.bin", b"a" * 300 * 1024)
        cls.make("plain.txt", b"p")
        cls.make("NUKED-fake/f.bin", b"f" * MB)
        outside = os.path.join(cls.tmp, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "secret.bin"), "wb") as f:
            f.write(b"s" * 5 * MB)
        os.symlink(outside, cls.site_dir("mode0/out"))
        # A file far above what 32-bit credits hold, without using the disk.
        with open(cls.site_dir("big/huge.iso"), "wb") as f:
            f.truncate(300 * 1024 * MB)
        cls.records(
            ["rel;1;rwxrwxrwx;201;100;;0;0", "rel/sample;2;rwxrwxrwx;202;100;;0;0",
             "empty;3;rwxrwxrwx;203;100;;0;0", "zero;4;rwxrwxrwx;203;100;;0;0",
             "mode0;5;rwxrwxrwx;201;100;;0;0", "mode2;6;rwxrwxrwx;201;100;;0;0",
             "big;7;rwxrwxrwx;206;100;;0;0", "byflag;8;rwxrwxrwx;205;100;;0;0",
             "NUKED-fake;9;rwxrwxrwx;203;100;;0;0"],
            {1: [f"a1.bin;rw-r--r--;201;100;{MB};0", f"a2.bin;rw-r--r--;201;100;{MB};0",
                 f"b.bin;rw-r--r--;202;100;{MB};0"],
             4: [f"c.bin;rw-r--r--;203;100;{MB};0"],
             5: [f"a.bin;rw-r--r--;201;100;{MB};0"],
             7: [f"huge.iso;rw-r--r--;206;100;0;0"],
             9: [f"f.bin;rw-r--r--;203;100;{MB};0"]})

    def test_1_nuke_and_unnuke_charge_and_pay_back_the_uploaders(self):
        op = self.raw()
        mark = len(self.event_log())
        self.assertEqual(self.ask(op, "SITE NUKE {rel} 3 bad release"), lines(
            " Nuke Completed.", DASH,
            " Nukee(s): %-9u Files: %-11.0f Total kbytes: %-11.2f" % (2, 4, (3 * MB + 100) / 1024),
            DASH, NUKE_OWNER % ("alice", 2, 6), NUKE_OWNER % ("bob", 1, 0), DASH,
        ) + ["200 Nuke command Successful."])
        self.assertEqual(self.credits("alice"), 10000 - 6144)
        self.assertEqual(self.nuke_fields("alice")[1:], [1, 2])
        self.assertEqual(self.credits("bob"), 500, "a leech pays nothing")
        self.assertEqual(self.nuke_fields("bob")[1:], [1, 1])
        head = "orvex: Nuked directory: 'rel', with message: 'bad release', owned by: 'alice', "
        self.assertEqual(self.event_log()[mark:], [
            head + "containing: 2 files & 0 dirs, belonging to: 'alice', penalty: 3x 2.00M",
            head + "containing: 1 files & 1 dirs, belonging to: 'bob', penalty: 3x 1.00M",
            head + "containing: 1 files & 0 dirs, belonging to: 'system', penalty: 3x 0.00M"])
        # Mode 1: renamed with the prefix; directories stay, files go; the records move along.
        self.assertFalse(os.path.exists(self.site_dir("rel")))
        self.assertEqual(os.listdir(self.site_dir("NUKED-rel")), ["sample"])
        self.assertEqual(self.ask(op, "SITE NUKELOG bad release")[-1], "200 Command Successful.")

        self.assertEqual(self.ask(op, "SITE UNNUKE {NUKED-rel} 3")[-1],
                         "503 NUKED-rel: Directory exists.")
        self.assertEqual(self.ask(op, "SITE UNNUKE {never} 3"),
                         ["508 never: UnNuke command failed."])
        # What is left is an empty directory: the owner gets the empty penalty back.
        self.assertEqual(self.ask(op, "SITE UNNUKE {rel} 3 my mistake"), lines(
            " Empty DIR UnNuke", DASH,
            " User: %-16s    Bytes: %9.2fMB  Credit Gain: %9.2fMB" % ("alice", 1, 3), DASH,
        ) + ["200 UnNuke command Successful."])
        self.assertEqual(sorted(os.listdir(self.site_dir("rel"))), ["sample"])
        self.assertEqual(self.credits("alice"), 10000 - 6144 + 3072)
        # The statistics forget the whole nuke, also for bob, whose files it deleted.
        self.assertEqual(self.nuke_fields("alice")[1:], [0, 0])
        self.assertEqual(self.nuke_fields("bob")[1:], [0, 0])
        self.assertEqual(self.event_log()[-1],
                         "orvex: UnNuked directory: 'rel', with message: 'my mistake', owned by: "
                         "'alice', containing: (empty), belonging to: 'alice', restored: 3x 1.00M")
        self.sync(op)
        records = self.directory_records()
        self.assertEqual(records["rel"][:3], ("1", "rwxrwxrwx", "201"))
        self.assertEqual(records["rel/sample"][:3], ("2", "rwxrwxrwx", "202"))
        self.assertNotIn("NUKED-rel", records)

    def test_2_empty_directories_multipliers_and_refusals(self):
        op = self.raw()
        self.assertEqual(self.ask(op, "SITE NUKE {empty} 2"), lines(
            " Empty DIR Nuke", DASH,
            " Nukee: %-16s Penalty: %9.2fMB  Credit Lost: %9.2fMB" % ("carol", 1, 2), DASH,
        ) + ["200 Nuke command Successful."])
        self.assertEqual(self.credits("carol"), 5000 - 2048)
        self.assertEqual(self.event_log()[-1],
                         "orvex: Nuked directory: 'empty', with message: '', owned by: 'carol', "
                         "containing: (empty), belonging to: 'carol', penalty: 2x 1.00M")
        # "0" is a multiplier: nothing is charged, but the nuke is counted.
        self.assertEqual(self.ask(op, "SITE NUKE {zero} 0")[-1], "200 Nuke command Successful.")
        self.assertEqual(self.credits("carol"), 5000 - 2048)
        self.assertEqual(self.nuke_fields("carol")[1:], [2, 2])

        refusals = [
            ("SITE NUKE {probe} x", "505 Invalid nuke multiplier."),
            # A negative multiplier would pay the nukees.
            ("SITE NUKE {probe} -5", "505 Invalid nuke multiplier."),
            ("SITE UNNUKE {gone} -5", "505 Invalid unnuke multiplier."),
            ("SITE NUKE {probe} 11", "506 Nuke multiplier cannot exceed 10."),
            ("SITE UNNUKE {gone} 11", "506 Unnuke multiplier cannot exceed 10."),
            ("SITE NUKE {my rel}", "504 Missing nuke multiplier."),
            ("SITE UNNUKE {my gone}", "504 Missing unnuke multiplier."),
            ("SITE NUKE / 3", "501 Cannot nuke the root directory."),
            ("SITE NUKE {plain.txt} 3", "503 plain.txt: Not a directory."),
            ("SITE NUKE {nosuch} 3", "503 nosuch: No such file or directory."),
            ("SITE NUKE {probe 3", "502 } not found in directory name."),
            ("SITE NUKE {} 3", "501 No directory was specified"),
        ]
        for command, reply in refusals:
            self.assertEqual(self.ask(op, command), [reply], command)
        self.assertTrue(os.path.isdir(self.site_dir("probe")))
        with open(self.site.path("ftp-data/help/site.nuke")) as f:
            help_lines = ["200- " + line for line in f.read().splitlines()]
        self.assertEqual(self.ask(op, "SITE NUKE probe"), help_lines + ["200 Command Successful."])
        self.assertEqual(self.ask(self.raw("pleb"), "SITE NUKE {probe} 1"), [NO_ACCESS])
        self.assertEqual(self.ask(self.raw("nuker"), "SITE UNNUKE {probe} 1"), [NO_ACCESS])
        self.assertEqual(self.ask(self.raw("nuker"), "SITE NUKE {byflag} 1")[-1],
                         "200 Nuke command Successful.")

        # The nuke name is taken: the rename never replaces it, and the charges stay.
        self.assertEqual(self.ask(op, "SITE NUKE {clash} 1")[-1], "509 clash: Nuke command failed.")
        self.assertTrue(os.path.isdir(self.site_dir("clash")))
        self.assertTrue(os.path.isdir(self.site_dir("NUKED-clash")))

        # 300 GiB nuked ten times: worked out in 64 bits and held at the lowest credits.
        self.assertEqual(self.ask(op, "SITE NUKE {big} 10")[-1], "200 Nuke command Successful.")
        self.assertEqual(self.credits("whale"), -2 ** 31)
        self.assertEqual(self.nuke_fields("whale")[1:], [1, 300 * 1024])

    def test_4_unnuke_gives_back_only_what_a_nuke_took(self):
        op = self.raw()
        credits, stats = self.credits("carol"), self.nuke_fields("carol")[1:]
        # A directory no nuke set aside: carol's upload earns nothing back.
        self.assertEqual(self.ask(op, "SITE UNNUKE {fake} 10 x"), lines(
            " UnNuke Completed.", DASH,
            " User(s): %-9u  Files: %-11.0f Total kbytes: %-11.2f" % (1, 1, 1024), DASH,
            " User: %-12s  Bytes: %8.2fMB  Credit Gain: %9.2fMB" % ("carol", 1, 0), DASH,
        ) + ["200 UnNuke command Successful."])
        self.assertEqual(self.credits("carol"), credits)
        self.assertEqual(self.nuke_fields("carol")[1:], stats)
        # A real nuke (its file deleted) gives back at most what it took, and only once: set
        # aside again by hand, the directory earns nothing.
        self.assertEqual(self.ask(op, "SITE NUKE {fake} 1")[-1], "200 Nuke command Successful.")
        self.assertEqual(self.credits("carol"), credits - 1024)
        self.assertEqual(self.ask(op, "SITE UNNUKE {fake} 3"), lines(
            " Empty DIR UnNuke", DASH,
            " User: %-16s    Bytes: %9.2fMB  Credit Gain: %9.2fMB" % ("carol", 1, 1), DASH,
        ) + ["200 UnNuke command Successful."])
        self.assertEqual(self.credits("carol"), credits)
        self.assertEqual(self.nuke_fields("carol")[1:], stats)
        self.assertEqual(self.ask(op, "RNFR fake")[-1][:3], "350")
        self.assertEqual(self.ask(op, "RNTO NUKED-fake")[-1][:3], "250")
        self.assertEqual(self.ask(op, "SITE UNNUKE {fake} 9")[-1], "200 UnNuke command Successful.")
        self.assertEqual(self.credits("carol"), credits)
        self.assertEqual(self.nuke_fields("carol")[1:], stats)

    def test_3_delete_and_keep_modes(self):
        probe, op = "SITE NUKE {probe} 99", self.raw()
        try:
            self.set_conf_and_wait(op, probe, "506 Nuke multiplier cannot exceed 12.",
                                   nukedir_style="NUKED- 0 100", nuke_mult_max="12")
            mark = len(self.event_log())
            reply = self.ask(op, "SITE NUKE {mode0} 1")
            # The link to a directory outside counts as an entry of no size and is not followed.
            self.assertEqual(reply[2], "200- Nukee(s): %-9u Files: %-11.0f Total kbytes: %-11.2f"
                             % (1, 2, 1024))
            self.assertEqual(reply[-1], "200 Nuke command Successful.")
            self.assertFalse(os.path.lexists(self.site_dir("mode0")))
            self.assertEqual(os.path.getsize(os.path.join(self.tmp, "outside", "secret.bin")),
                             5 * MB)
            self.assertEqual(len(self.event_log()[mark:]), 2)

            self.set_conf_and_wait(op, probe, "506 Nuke multiplier cannot exceed 11.",
                                   nukedir_style="NUKED- 2 100", nuke_mult_max="11")
            self.assertEqual(self.ask(op, "SITE NUKE {mode2} 1")[-1],
                             "200 Nuke command Successful.")
            self.assertEqual(os.path.getsize(self.site_dir("NUKED-mode2/sub/a.bin")), 300 * 1024)
            self.assertEqual(self.ask(op, "SITE UNNUKE {mode2} 1")[-1],
                             "200 UnNuke command Successful.")
            self.assertTrue(os.path.isfile(self.site_dir("mode2/sub/a.bin")))
        finally:
            self.set_conf_and_wait(op, probe, "506 Nuke multiplier cannot exceed 10.",
                                   nukedir_style="NUKED- 1 100", nuke_mult_max="10")
