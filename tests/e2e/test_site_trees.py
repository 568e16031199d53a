"""The commands that move and remove trees, through one session: DELTREE, RESTREE and PURGETREE
with their replies and the records that follow the trees, WIPE with and without a pattern, and
COPY; the records are read from orvex.fs after SIGTERM. Links are never passed, names that look
like patterns are taken literally, renames never replace a directory, and a tree that can only
be removed in part keeps the records of what is left."""

import os
import signal
import subprocess

from sitefs_support import NO_ACCESS, SiteFsCase


def lock_entry(case, path):
    """Makes `path` impossible to remove; False when this system offers no way to."""
    if os.geteuid() != 0:
        parent = os.path.dirname(path)
        os.chmod(parent, 0o555)
        case.addCleanup(os.chmod, parent, 0o755)
        return True
    done = subprocess.run(["chattr", "+i", path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0
    if done:
        case.addCleanup(subprocess.run, ["chattr", "-i", path], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
    return done


class SiteTrees(SiteFsCase):
    @classmethod
    def build(cls, site):
        cls.add_user("alice", 201)
        cls.add_user("pleb", 205)
        for d in ("pub/rel1/cd1/", "pub/rel2/", "pub/rel3/", "pub/DELETED-old/", "pub/clash/",
                  "pub/DELETED-clash/", "wipe/dir/sub/", "wipe/x.tmp/", "wipe/lit*/sub/",
                  "wipe/stuck/keep/", "wipe/stuck/gone/", "copies/", "my dir/"):
            cls.make(d)
        for f in ("pub/rel1/cd1/a.bin", "pub/file.txt", "wipe/dir/d.bin", "wipe/dir/sub/s.bin",
                  "wipe/file.txt", "wipe/one.tmp", "wipe/two.tmp", "wipe/a?b", "wipe/axb",
                  "wipe/lit*/sub/inner", "wipe/stuck/y.bin", "wipe/stuck/keep/locked.bin",
                  "wipe/stuck/gone/x.bin"):
            cls.make(f, b"data")
        outside = os.path.join(cls.tmp, "outside")
        os.makedirs(os.path.join(outside, "DELETED-secret"))
        with open(os.path.join(outside, "secret.txt"), "w") as f:
            f.write("secret")
        os.symlink(outside, cls.site_dir("pub/outlink"))
        os.symlink(os.path.join(outside, "secret.txt"), cls.site_dir("pub/rel1/cd1/ln"))
        cls.records(
            ["pub/rel1;1;rwxrwxrwx;201;100;;0;0", "pub/rel1/cd1;2;rwxr-xr-x;201;100;;0;0",
             "pub/rel2;3;rwxrwxrwx;201;100;;0;0", "pub/rel3;4;rwxrwxrwx;201;100;;0;0",
             "pub/DELETED-old;5;rwxrwxrwx;201;100;;0;0", "wipe;9;rwxrwxrwx;201;100;;0;0",
             "wipe/dir;10;rwxrwxrwx;201;100;;0;0", "wipe/dir/sub;11;rwxrwxrwx;201;100;;0;0",
             "wipe/stuck;12;rwxrwxrwx;201;100;;0;0", "wipe/stuck/keep;13;rwxrwxrwx;201;100;;0;0",
             "wipe/stuck/gone;14;rwxrwxrwx;201;100;;0;0"],
            {2: ["a.bin;rw-r--r--;201;100;4;0"],
             9: ["file.txt;rw-r--r--;201;100;4;0", "one.tmp;rw-r--r--;201;100;4;0",
                 "axb;rw-r--r--;201;100;4;0"],
             10: ["d.bin;rw-r--r--;201;100;4;0"],
             12: ["y.bin;rw-r--r--;201;100;4;0"],
             13: ["locked.bin;rw-r--r--;201;100;4;0"],
             14: ["x.bin;rw-r--r--;201;100;4;0"]})

    def help_lines(self, name):
        with open(self.site.path(f"ftp-data/help/{name}")) as f:
            return ["200- " + line if line else "200- " for line in f.read().splitlines()]

    def test_tree_commands_and_their_records(self):
        op = self.raw()
        self.assertEqual(self.ask(self.raw("pleb"), "SITE DELTREE pub/rel3"), [NO_ACCESS])
        self.assertEqual(self.ask(self.raw("pleb"), "SITE WIPE pub/rel3"), [NO_ACCESS])
        self.walk_deleted_trees(op)
        stuck = self.walk_wipe(op)
        self.walk_copy(op)

        self.assertEqual(self.server.stop(signal.SIGTERM), 0)
        dirs = self.directory_records()
        for kept in ("pub/rel1", "pub/rel1/cd1", "pub/rel3", "wipe", "wipe/stuck",
                     "wipe/stuck/keep"):
            self.assertIn(kept, dirs)
        for gone in ("pub/rel2", "pub/DELETED-old", "wipe/dir", "wipe/dir/sub"):
            self.assertNotIn(gone, dirs)
        self.assertFalse([d for d in dirs if "DELETED-" in d or d.startswith("copies")])
        self.assertEqual(dirs["pub/rel1/cd1"][:3], ("2", "rwxr-xr-x", "201"))
        self.assertEqual(list(self.file_records(2)), ["a.bin"])
        self.assertEqual(list(self.file_records(9)), ["axb"])
        if stuck:
            # Only what the wipe really removed lost its records.
            self.assertNotIn("wipe/stuck/gone", dirs)
            self.assertEqual(self.file_records(12), {})
            self.assertEqual(list(self.file_records(13)), ["locked.bin"])

    def walk_deleted_trees(self, op):
        replies = [
            ("SITE DELTREE pub/rel1", "200 Directory tree (pub/rel1) deleted."),
            ("SITE DELTREE pub/DELETED-old", "502 Unable to delete directory tree "
                                             "'pub/DELETED-old'."),
            ("SITE DELTREE pub/file.txt", "502 Unable to delete directory tree 'pub/file.txt'."),
            ("SITE DELTREE /", "501 Cannot delete the root directory."),
            ("SITE DELTREE pub/rel*", "200 Deleted 2 directory trees."),
            # DELETED-clash exists, empty: the tree is never put in its place.
            ("SITE DELTREE pub/clash", "502 Unable to delete directory tree 'pub/clash'."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(op, command), [reply], command)
        self.assertTrue(os.path.isdir(self.site_dir("pub/clash")))
        self.assertTrue(os.path.isfile(self.site_dir("pub/DELETED-rel1/cd1/a.bin")))

        # Trees behind the link to the outside directory are not the site's.
        self.assertEqual(self.ask(op, "SITE RESTREE"),
                         self.help_lines("site.restree.top") +
                         ["200- /pub/clash", "200- /pub/old", "200- /pub/rel1",
                          "200- /pub/rel2", "200- /pub/rel3"] +
                         self.help_lines("site.restree.bottom") + ["200 Command Successful."])
        replies = [
            ("SITE RESTREE pub/rel1", "200 Directory tree (pub/rel1) restored."),
            ("SITE RESTREE pub/nothing", "501 Directory tree 'pub/nothing' has not been deleted."),
            ("SITE RESTREE pub/clash", "501 Directory tree 'pub/clash' has not been deleted."),
            ("SITE RESTREE pub/rel*", "200 Restored 2 directory trees."),
            ("SITE DELTREE pub/rel2", "200 Directory tree (pub/rel2) deleted."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(op, command), [reply], command)
        self.assertTrue(os.path.isfile(self.site_dir("pub/rel1/cd1/a.bin")))
        self.assertEqual(self.ask(op, "SITE PURGETREE pub/rel2"), [
            "200- Directory tree (pub/rel2) purged.",
            "200 Command successful.  (1 Directory Trees Purged)"])
        self.assertEqual(self.ask(op, "SITE PURGETREE"), [
            "200- Directory tree (pub/clash) purged.", "200- Directory tree (pub/old) purged.",
            "200-", "200 Command successful.  (2 Directory Trees Purged)"])
        self.assertEqual(sorted(os.listdir(self.site_dir("pub"))),
                         ["README.txt", "clash", "file.txt", "outlink", "rel1", "rel3"])
        self.assertTrue(os.path.isdir(os.path.join(self.tmp, "outside", "DELETED-secret")))

    def walk_wipe(self, op):
        stuck = lock_entry(self, self.site_dir("wipe/stuck/keep/locked.bin"))
        replies = [
            ("SITE WIPE /", "501 Cannot delete the root directory."),
            ("SITE WIPE wipe/dir", "200 4 files/directories deleted."),
            ("SITE WIPE wipe/file.txt", "200 1 files/directories deleted."),
            # Files only: the directory x.tmp matches too and stays.
            ("SITE WIPE wipe/*.tmp", "200 2 files/directories deleted."),
            ("SITE WIPE wipe/a?b", "200 1 files/directories deleted."),
            ("SITE WIPE wipe/nothing", "200 0 files/directories deleted."),
            # A "*" in a directory above the last component is part of a name.
            ("CWD wipe/lit*", "250 CWD command successful."),
            ("SITE WIPE sub", "200 2 files/directories deleted."),
            ("CWD /", "250 CWD command successful."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(op, command), [reply], command)
        self.assertEqual(sorted(os.listdir(self.site_dir("wipe"))),
                         ["axb", "lit*", "stuck", "x.tmp"])
        if stuck:
            self.assertEqual(self.ask(op, "SITE WIPE wipe/stuck"),
                             ["200 3 files/directories deleted."])
            self.assertEqual(os.listdir(self.site_dir("wipe/stuck")), ["keep"])
        return stuck

    def walk_copy(self, op):
        replies = [
            ("SITE COPY {pub/rel1} copies/rel1", "200 Files successfully copied."),
            ("SITE COPY {nosuch} copies/x", "200 No files copied."),
            ("SITE COPY {pub rel1 x", "502 } not found in source."),
            ("SITE COPY {} x", "501 No source was specified"),
            ("SITE COPY {my dir}", "503 Missing destination."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(op, command), [reply], command)
        self.assertTrue(os.path.isfile(self.site_dir("copies/rel1/cd1/a.bin")))
        self.assertFalse(os.path.lexists(self.site_dir("copies/rel1/cd1/ln")))
