"""orvex with today's clients (modern_client_support), with the virtual filesystem's owners,
modes and rights in MLSD and MLST; one server for the module."""

import ftplib
import io
import os
import unittest

from modern_client_support import ModernClients, ipv6_loopback
from site_admin_support import SiteAdminCase


class OrvexModernClients(ModernClients, SiteAdminCase):
    users = {"fay": {"flags": "1"}, "gus": {}}
    ipv6 = ipv6_loopback()
    conf = {"bind_ip": "::" if ipv6 else "127.0.0.1"}
    user, password, owner, group = "fay", "pw", "fay", "users"
    modes = {False: "0644", True: "0777"}  # what the filesystem records for new entries

    @classmethod
    def prepare(cls):
        cls.site.make_keys()
        cls.served = cls.site.path("site")

    def test_rights_come_from_the_filesystem(self):
        with open(os.path.join(self.served, "stray.txt"), "w") as f:
            f.write("x")
        fay = self.login("fay")
        self.assertRegex(self.data(fay, "STOR owned.txt", "127.0.0.1", upload=b"mine")[1], "^226 ")
        gus = self.login("gus")
        # Not gus's: he may download it, and LIST of it is refused him, but MLST answers as MDTM.
        self.assertEqual(gus.cmd("LIST owned.txt"), "550 owned.txt: Permission denied.")
        self.assertEqual(self.ask(gus, "MLST owned.txt")[1][:20], " type=file;size=4;mo")
        listing = self.data(gus, "MLSD", "127.0.0.1")[0]
        self.assertIn("perm=r;unix.mode=0644;unix.owner=fay;unix.group=users; owned.txt", listing)
        # An entry the filesystem has no record of belongs to nobody the site knows.
        self.assertIn("unix.owner=system;unix.group=system; stray.txt", listing)

    def test_what_clients_tripped_on(self):
        # No login was refused yet: the missing log is an empty one.
        log = self.site.path("ftp-data/logs/login.log")
        if os.path.exists(log):
            os.remove(log)
        self.assertEqual(self.ask(self.login("fay"), "SITE LOGINS"), ["200 Command Successful."])
        # A name the site refuses is refused for good: lftp does not send it again.
        with open(os.path.join(self.client_home(), "a#hash.txt"), "w") as f:
            f.write("x")
        out = self.lftp("127.0.0.1", "put a#hash.txt", ok=False, retries=3)
        self.assertEqual([l for l in out.splitlines() if l.startswith("---> STOR")],
                         ["---> STOR a#hash.txt"])
        self.assertIn("<--- 553 a#hash.txt: The system cannot write to the file specified.", out)
        # The uploader resumes an interrupted upload, curl's way (SIZE, APPE) and with REST.
        data = bytes(range(256)) * 400
        whole = os.path.join(self.client_home(), "resume.bin")
        with open(whole, "wb") as f:
            f.write(data)
        fay, gus = (self.ftp_login(user, "pw") for user in ("fay", "gus"))
        fay.storbinary("STOR resume.bin", io.BytesIO(data[:30000]))
        self.curl("-C", "-", "-T", whole, f"ftp://127.0.0.1:{self.port}/resume.bin")
        fay.storbinary("STOR resume.bin", io.BytesIO(data[50000:]), rest=50000)
        with open(os.path.join(self.served, "resume.bin"), "rb") as f:
            self.assertEqual(f.read(), data)
        # A new upload of the name is a dupe, and so is anybody else's resume.
        for client, command, rest in ((fay, "STOR", None), (gus, "APPE", None),
                                      (gus, "STOR", 100)):
            with self.assertRaises(ftplib.error_perm) as refused:
                client.storbinary(f"{command} resume.bin", io.BytesIO(b"x"), rest=rest)
            self.assertEqual(str(refused.exception).splitlines()[-1],
                             "553 This file looks like a dupe.")
        # Setting a time needs the right to write the file.
        self.assertEqual(self.login("gus").cmd("MFMT 20200102030405 resume.bin"),
                         "550 resume.bin: Permission denied.")

    def ftp_login(self, user, password):
        f = ftplib.FTP()
        self.addCleanup(f.close)
        f.connect("127.0.0.1", self.port, timeout=20)
        f.login(user, password)
        return f


if __name__ == "__main__":
    unittest.main()
