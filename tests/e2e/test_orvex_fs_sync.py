"""The filesystem's files on disk: the start-up check drops what was removed behind the server's
back, and what sessions change reaches orvex.fs, the file lists and the dupe log with the
fs_sync_freq pass and at SIGTERM."""

import os

from vfs_support import VfsCase


class Sync(VfsCase):
    conf = {"fs_sync_freq": "1"}

    @classmethod
    def build(cls, site):
        cls.add_user("alice", 201)
        cls.make("keep/kept.bin", b"k")
        cls.records(["keep;1;rwxrwxrwx;201;100;;0;0", "gone;2;rwxrwxrwx;201;100;;0;0",
                     "gone/sub;3;rwxrwxrwx;201;100;;0;0"],
                    {1: ["kept.bin;rw-r--r--;201;100;1;0", "removed.bin;rw-r--r--;201;100;1;0"],
                     2: ["lost.bin;rw-r--r--;201;100;1;0"]})

    def key(self, rel):
        return self.site_dir(rel).replace("/", "\\").rstrip("\\") + "\\"

    def table(self):
        """orvex.fs as {path: id}."""
        out = {}
        for line in self.site.read("fs/orvex.fs").splitlines():
            if line and not line.startswith("#"):
                fields = line.split(";")
                out[fields[0]] = int(fields[1])
        return out

    def files_of(self, rel):
        dir_id = self.table().get(self.key(rel))
        path = f"fs/{dir_id}.fs"
        if dir_id is None or not os.path.exists(self.site.path(path)):
            return None
        return [l.split(";")[0] for l in self.site.read(path).splitlines()
                if l and not l.startswith("#")]

    def dupes(self):
        path = "ftp-data/logs/dupelog"
        if not os.path.exists(self.site.path(path)):
            return []
        return [l.split(";")[0] for l in self.site.read(path).splitlines()
                if l and not l.startswith("#")]

    def test_1_startup_check(self):
        self.assertEqual(set(self.table()), {self.key("keep")})
        self.assertEqual(self.files_of("keep"), ["kept.bin"])
        self.assertFalse(os.path.exists(self.site.path("fs/2.fs")))

    def test_2_changes_reach_the_disk(self):
        f = self.ftp("alice")
        for d in ("keep/work", "keep/work/old", "keep/work/tmp"):
            f.mkd(d)
        self.upload(f, "keep/work/f1.bin", 100)
        self.upload(f, "keep/work/del.bin", 100)
        f.rename("keep/work/old", "keep/work/new")
        f.rmd("keep/work/tmp")
        f.delete("keep/work/del.bin")

        def synced():
            return (set(self.table()) == {self.key(d) for d in ("keep", "keep/work", "keep/work/new")}
                    and self.files_of("keep/work") == ["f1.bin"] and self.dupes() == ["f1.bin"])
        self.assertTrue(self.eventually(synced, timeout=100, step=1),
                        (self.table(), self.files_of("keep/work"), self.dupes()))

        self.upload(f, "keep/work/late.bin", 5)
        f.mkd("keep/late")
        f.quit()
        self.assertEqual(self.server.stop(), 0)
        self.assertIn(self.key("keep/late"), self.table())
        self.assertEqual(self.files_of("keep/work"), ["f1.bin", "late.bin"])
        self.assertEqual(self.dupes(), ["f1.bin", "late.bin"])
