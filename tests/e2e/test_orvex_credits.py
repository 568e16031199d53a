"""Credits and statistics through real transfers: what uploads earn and downloads cost under
each ratio, refusals before any data moves, refunds, the take-back of DELE, the limits of
simultaneous transfers, and the period resets at login and in the daily pass."""

import ftplib
import os
import re
import socket
import time

from vfs_support import VfsCase, user_file

MB10 = 10 * 1024 * 1024
GIB5 = 5 << 30
KB10 = 10240


class Credits(VfsCase):
    @classmethod
    def build(cls, site):
        cls.add_user("ratio3", 301)
        cls.add_user("leech", 302, ratio=0)
        cls.add_user("poor", 303, ratio=1, credits=100)
        # One download and one upload at a time, downloads at 200 KB/s.
        cls.add_user("slow", 304, credits=100000, general="0 0 204800 0", logins="0 0 1 1")
        # Stats from an earlier month: the first pass of the main loop resets them.
        cls.add_user("daily", 305, ratio=1, credits=100, general="5000 0 0 0", stats=(7, 7, 7),
                     last_login=1000000000)
        cls.add_user("recent", 306, stats=(7, 7, 7), last_login=int(time.time()))
        cls.add_user("rich", 308, credits=6000000, general="0 0 204800 0")
        cls.add_user("mover", 309)
        for d in ("cred/", "cred/free/", "cred/r1/"):
            cls.make(d)
        os.truncate(cls.make("cred/huge.iso", b""), GIB5)
        cls.make("cred/big.bin", b"b" * MB10)
        cls.make("cred/free/big.bin", b"f" * MB10)
        cls.make("cred/gift.bin", b"g" * MB10)
        cls.records(["cred;1;rwxrwxrwx;101;101;;0;0", "cred/free;2;rwxrwxrwx;101;101;0;0;0",
                     "cred/r1;3;rwxrwxrwx;101;101;1;0;0"],
                    {1: ["big.bin;rw-r--r--;101;101;10485760;0",
                         "gift.bin;rw-r--r--;101;101;10485760;1"],
                     2: ["big.bin;rw-r--r--;101;101;10485760;0"]})

    def login_works(self, user):
        def attempt():
            try:
                self.ftp(user).quit()
                return True
            except ftplib.error_perm:
                return False
        return attempt

    def stats(self, name, key):
        return self.user_field(name, key)

    def aborted_bytes(self, f):
        """The byte count of the 426 that ends an aborted download."""
        reply = f.abort()
        for _ in range(3):
            m = re.search(r"\[Bytes: (\d+)\]", reply)
            if m:
                return int(m.group(1))
            reply = f.getline()
        self.fail(reply)

    def test_uploads_earn_and_downloads_cost(self):
        f = self.ftp("ratio3")
        self.upload(f, "cred/up.bin", MB10)
        self.assertEqual(self.credits("ratio3"), 3 * KB10)
        self.assertEqual(self.stats("ratio3", "ALLUP")[:2], [1, KB10])
        self.assertEqual(self.stats("ratio3", "DAYUP")[:2], [1, KB10])
        self.download(f, "cred/big.bin")
        self.assertEqual(self.credits("ratio3"), 2 * KB10)
        self.assertEqual(self.stats("ratio3", "WKDN")[:2], [1, KB10])
        # A resumed download costs the whole file.
        reply, data = self.download(f, "cred/big.bin", rest=MB10 // 2)
        self.assertEqual(len(data), MB10 // 2)
        self.assertEqual(self.credits("ratio3"), KB10)
        # Free directories, files marked free and ratio 1 directories.
        self.upload(f, "cred/free/upfree.bin", MB10)
        self.download(f, "cred/free/big.bin")
        self.download(f, "cred/gift.bin")
        self.assertEqual(self.credits("ratio3"), KB10)
        self.upload(f, "cred/r1/upr1.bin", MB10)
        self.assertEqual(self.credits("ratio3"), 2 * KB10)
        # DELE takes back what the upload earned, except in a free directory.
        self.assertEqual(f.delete("cred/up.bin"),
                         "250 DELE command successful. (30720 credits removed from file owner)")
        self.assertEqual(f.delete("cred/free/upfree.bin"), "250 DELE command successful.")
        self.assertEqual(self.credits("ratio3"), 2 * KB10 - 3 * KB10)

        leech = self.ftp("leech")
        self.upload(leech, "cred/leech.bin", MB10)
        self.download(leech, "cred/big.bin")
        self.assertEqual(self.credits("leech"), 0)
        self.assertEqual(self.stats("leech", "ALLDN")[:2], [1, KB10])

    def test_insufficient_credits_refused_before_any_data(self):
        poor = self.ftp("poor")
        poor.sendcmd("TYPE I")
        host, port = ftplib.parse227(poor.sendcmd("PASV"))
        with socket.create_connection((host, port), timeout=10) as s:
            self.assertEqual(self.refused(poor.sendcmd, "RETR cred/big.bin"),
                             "550 Insufficient credits.")
            s.settimeout(1)
            try:
                self.assertEqual(s.recv(10), b"")  # never a byte of the file
            except TimeoutError:
                pass
        self.assertEqual(self.credits("poor"), 100)
        self.download(poor, "cred/gift.bin")
        self.assertEqual(self.credits("poor"), 100)

    def test_limits_and_abort_refund(self):
        first = self.ftp("slow")
        first.sendcmd("TYPE I")
        conn = first.transfercmd("RETR cred/big.bin")
        conn.recv(1024)
        self.assertEqual(self.credits("slow"), 100000 - KB10)
        second = self.ftp("slow")
        self.assertEqual(self.refused(self.download, second, "cred/big.bin"),
                         "553 You have reached your maximum simultaneous downloads allowed.")
        conn.close()
        # What went out is paid for, the rest comes back.
        sent = self.aborted_bytes(first)
        self.assertGreaterEqual(sent, 1024)
        left = 100000 - KB10 + (MB10 - sent) // 1024
        self.assertTrue(self.eventually(lambda: self.credits("slow") == left))

        # An upload holding its data connection open keeps the upload place.
        uploader = self.ftp("slow")
        uploader.sendcmd("TYPE I")
        up = uploader.transfercmd("STOR cred/slow.bin")
        self.assertEqual(self.refused(self.upload, second, "cred/other.bin", 1),
                         "553 You have reached your maximum simultaneous uploads allowed.")
        up.sendall(b"x" * 4096)
        up.close()
        uploader.voidresp()
        self.upload(second, "cred/other.bin", 1)

    def test_sizes_beyond_4_gib(self):
        f = self.ftp("rich")
        self.assertIn(" 5368709120 ", self.listing(f, "cred")["huge.iso"])
        self.assertEqual(f.size("cred/huge.iso"), GIB5)
        f.sendcmd("TYPE I")
        conn = f.transfercmd("RETR cred/huge.iso")
        self.assertEqual(self.credits("rich"), 6000000 - 5242880)
        conn.close()
        left = 6000000 - 5242880 + (GIB5 - self.aborted_bytes(f)) // 1024
        self.assertTrue(self.eventually(lambda: self.credits("rich") == left))

    def test_moves_keep_what_an_upload_earned(self):
        # Uploaded where it earns, moved (alone or with its directory) into a free directory and
        # deleted there: what it earned goes back all the same, cycle after cycle.
        f = self.ftp("mover")
        f.mkd("cred/pack")
        for _ in range(2):
            self.upload(f, "cred/f2", 1 << 20)
            self.upload(f, "cred/pack/f3", 1 << 20)
            self.assertEqual(self.credits("mover"), 2 * 3072)
            f.rename("cred/f2", "cred/free/f2")
            f.rename("cred/pack", "cred/free/pack")
            for name in ("cred/free/f2", "cred/free/pack/f3"):
                self.assertEqual(
                    f.delete(name),
                    "250 DELE command successful. (3072 credits removed from file owner)")
            self.assertEqual(self.credits("mover"), 0)
            f.rename("cred/free/pack", "cred/pack")
        # One uploaded where it earns nothing costs nothing where it is deleted.
        self.upload(f, "cred/free/f4", 1 << 20)
        f.rename("cred/free/f4", "cred/f4")
        self.assertEqual(f.delete("cred/f4"), "250 DELE command successful.")
        self.assertEqual(self.credits("mover"), 0)

    def test_period_resets(self):
        # The daily pass: reset without a login, weekly allotment given.
        self.assertTrue(self.eventually(lambda: self.stats("daily", "DAYUP") == [0, 0, 0]))
        self.assertEqual(self.stats("daily", "MONTHDN"), [0, 0, 0])
        self.assertEqual(self.stats("daily", "ALLUP"), [7, 7, 7])
        self.assertEqual(self.credits("daily"), 5000)
        self.assertEqual(self.stats("recent", "DAYUP"), [7, 7, 7])

        # At login, for a user the pass has not seen.
        self.add_user("late", 307, ratio=2, credits=10, general="3000 0 0 0", stats=(5, 5, 5),
                      last_login=1000000000)
        time.sleep(3.5)  # the passwd file is read again on the next pass of the main loop
        self.assertTrue(self.eventually(self.login_works("late"), timeout=20))
        self.assertEqual(self.stats("late", "WKUP"), [0, 0, 0])
        self.assertEqual(self.stats("late", "ALLUP"), [5, 5, 5])
        self.assertEqual(self.credits("late"), 3000)
        self.assertEqual(self.stats("late", "TIME")[0], 1)
        self.ftp("recent").quit()
        self.assertEqual(self.stats("recent", "DAYUP"), [7, 7, 7])
