"""The filesystem's files on disk: the start-up check drops what was removed behind the server's
back, what sessions change reaches orvex.fs, the file lists and the dupe log with the
fs_sync_freq pass and at SIGTERM, and nothing a client was told succeeded is lost to SIGKILL."""

import ftplib
import os
import random
import threading
import time

from vfs_support import PASSWORD, VfsCase


UPLOADERS = {"up1": 211, "up2": 212}
ADMIN_UID = 101
ROUNDS = 20


class Workload:
    """One round of changes from several sessions until the server dies. Each worker notes what
    it was told succeeded; what it sent without an answer is uncertain."""

    def __init__(self, case, round_no, model):
        self.case, self.n, self.model = case, round_no, model
        self.rng = random.Random(round_no)
        self.lock = threading.Lock()
        self.uncertain = set()
        self.credit_delta = {u: 0 for u in UPLOADERS}  # credits of an unanswered upload/delete
        self.cut_upload = {}  # the upload each user had under way when the server died

    def attempt(self, key, call, *args):
        """Runs one command; True when answered with success, False when refused, None when
        the server died first (the change is then uncertain)."""
        try:
            call(*args)
            return True
        except ftplib.error_perm:
            return False
        except (OSError, EOFError, ftplib.Error):
            with self.lock:
                self.uncertain.add(key)
            return None

    def uploader(self, user, other):
        f = ftplib.FTP()
        try:
            f.connect("127.0.0.1", self.case.port, timeout=20)
            f.login(user, PASSWORD)
        except (OSError, EOFError, ftplib.Error):
            return
        home = f"r{self.n}/{user}"
        if not self.attempt(home, f.mkd, home):
            return
        self.model["dirs"][home] = (UPLOADERS[user], "rwxrwxrwx")
        mine = []
        for i in range(200):
            op = self.rng.random()
            name, kb = f"{home}/{user}-{self.n}-{i}.bin", self.rng.randint(1, 8)
            if 0.6 <= op < 0.7:
                # The other uploader's name: refused as a dupe, unless deleted meanwhile.
                theirs = [n for n in self.model["files"] if f"/{other}-" in n]
                name = f"{home}/{theirs[-1].rsplit('/', 1)[1]}" if theirs else name
            if op < 0.7 or not mine:
                self.credit_delta[user] = 3 * kb
                ok = self.attempt(name, self.case.upload, f, name, kb * 1024)
                if ok is None:
                    self.cut_upload[user] = name
                    return
                if ok:
                    self.model["files"][name] = (UPLOADERS[user], "rw-r--r--", kb * 1024)
                    self.model["credits"][user] += 3 * kb
                    mine.append(name)
            elif op < 0.8:
                old = mine.pop(self.rng.randrange(len(mine)))
                new = f"{home}/{user}-{self.n}-{i}-moved.bin"
                self.uncertain.add(old)  # cleared when answered
                ok = self.attempt(new, f.rename, old, new)
                if ok is None:
                    return
                self.uncertain.discard(old)
                self.model["files"][new] = self.model["files"].pop(old)
                mine.append(new)
            elif op < 0.9:
                name = mine.pop(self.rng.randrange(len(mine)))
                self.credit_delta[user] = -self.model["files"][name][2] // 1024 * 3
                ok = self.attempt(name, f.delete, name)
                if ok is None:
                    return
                self.model["credits"][user] -= self.model["files"].pop(name)[2] // 1024 * 3
            else:
                name = mine[-1]
                ok = self.attempt(name, f.sendcmd, f"SITE CHMOD 600 {name}")
                if ok is None:
                    return
                owner, _, size = self.model["files"][name]
                self.model["files"][name] = (owner, "rw-------", size)
            self.credit_delta[user] = 0

    def admin(self):
        f = ftplib.FTP()
        try:
            f.connect("127.0.0.1", self.case.port, timeout=20)
            f.login("orvex", PASSWORD)
        except (OSError, EOFError, ftplib.Error):
            return
        dirs = self.model["dirs"]
        for i in range(200):
            d = f"r{self.n}/adm{i}"
            if not self.attempt(d, f.mkd, d):
                return
            dirs[d] = (ADMIN_UID, "rwxrwxrwx")
            step = i % 5
            if step == 0:
                if not self.attempt(d, f.sendcmd, f"SITE CHMOD 750 {d}"):
                    return
                dirs[d] = (ADMIN_UID, "rwxr-x---")
            elif step == 1:
                if not self.attempt(d, f.sendcmd, f"SITE CHOWN up1 {d}"):
                    return
                dirs[d] = (UPLOADERS["up1"], "rwxrwxrwx")
            elif step == 2:
                self.uncertain.add(d)
                if not self.attempt(d + "x", f.rename, d, d + "x"):
                    return
                self.uncertain.discard(d)
                dirs[d + "x"] = dirs.pop(d)
            elif step == 3:
                self.uncertain.add(d)
                nuked = f"r{self.n}/NUKED-adm{i}"
                if not self.attempt(nuked, f.sendcmd, f"SITE NUKE {{{d}}} 1 crash test"):
                    return
                self.uncertain.discard(d)
                dirs[nuked] = dirs.pop(d)
            else:
                link = f"r{self.n}/ln{i}"
                if not self.attempt(link, f.sendcmd, f"SITE LINK {{{link}}} keep"):
                    return
                self.model["links"].add(link)
                self.uncertain.add(d)
                if not self.attempt(d, f.rmd, d):
                    return
                self.uncertain.discard(d)
                del dirs[d]

    def run(self):
        f = self.case.ftp()
        f.mkd(f"r{self.n}")
        f.close()
        self.model["dirs"][f"r{self.n}"] = (ADMIN_UID, "rwxrwxrwx")
        workers = [threading.Thread(target=self.uploader, args=("up1", "up2")),
                   threading.Thread(target=self.uploader, args=("up2", "up1")),
                   threading.Thread(target=self.admin)]
        for w in workers:
            w.start()
        time.sleep(self.rng.uniform(0.1, 1.0))
        self.case.server.kill()
        for w in workers:
            w.join(30)
            self.case.assertFalse(w.is_alive())


class Sync(VfsCase):
    conf = {"fs_sync_freq": "1"}

    @classmethod
    def build(cls, site):
        cls.add_user("alice", 201)
        for name, uid in UPLOADERS.items():
            cls.add_user(name, uid, ratio=3)
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

    def records_on_disk(self):
        """Every directory and file record on disk, each line checked for its form."""
        site = self.site_dir().replace("/", "\\")
        dirs, files = {}, {}
        for line in self.site.read("fs/orvex.fs").splitlines():
            if not line or line.startswith("#"):
                continue
            fields = line.split(";")
            self.assertEqual(len(fields), 8, line)
            for n in fields[1:2] + fields[3:]:
                int(n)
            rel = fields[0][len(site):].replace("\\", "/").strip("/")
            dirs[rel] = (int(fields[3]), fields[2])
            path = self.site.path(f"fs/{fields[1]}.fs")
            if not os.path.exists(path):
                continue
            for entry in self.site.read(f"fs/{fields[1]}.fs").splitlines():
                if not entry or entry.startswith("#"):
                    continue
                parts = entry.split(";")
                # The seventh field, what the upload earned, is written only when known.
                self.assertIn(len(parts), (6, 7), entry)
                for n in parts[2:]:
                    int(n)
                files[f"{rel}/{parts[0]}"] = (int(parts[2]), parts[1], int(parts[4]))
        return dirs, files

    def dupe_owners(self):
        path = "ftp-data/logs/dupelog"
        return {l.split(";")[0]: int(l.split(";")[1]) for l in self.site.read(path).splitlines()
                if l and not l.startswith("#")}

    def test_3_sigkill_loses_nothing_answered(self):
        type(self).start_server()
        model = {"dirs": {}, "files": {}, "links": set(), "credits": {u: 0 for u in UPLOADERS}}
        for n in range(ROUNDS):
            work = Workload(self, n, model)
            work.run()
            type(self).start_server()  # after SIGKILL: the journal is replayed
            self.assertEqual(self.server.stop(), 0)  # the write-back puts every record on disk
            dirs, files = self.records_on_disk()
            uncertain = work.uncertain
            for rel, want in list(model["dirs"].items()):
                if rel not in uncertain:
                    self.assertEqual(dirs.get(rel), want, (n, rel))
            for rel, want in list(model["files"].items()):
                if rel not in uncertain:
                    self.assertEqual(files.get(rel), want, (n, rel))
            dupes = self.dupe_owners()
            for rel, (owner, _, _) in model["files"].items():
                if rel not in uncertain:
                    self.assertEqual(dupes.get(rel.rsplit("/", 1)[1]), owner, (n, rel))
            links = self.site.read("etc/links")
            for link in model["links"]:
                self.assertIn(self.site_dir(link).replace("/", "\\"), links)
            for user in UPLOADERS:
                # An upload or delete cut off by the kill may or may not have moved credits;
                # an upload that earned them has its record.
                got, want = self.credits(user), model["credits"][user]
                delta = work.credit_delta[user]
                self.assertIn(got, {want, want + delta}, (n, user))
                model["credits"][user] = got
                if delta > 0 and got == want + delta:
                    earned = work.cut_upload.get(user)
                    self.assertIn(earned, files, (n, user))
            for rel in uncertain:
                model["dirs"].pop(rel, None)
                model["files"].pop(rel, None)
            type(self).start_server()
