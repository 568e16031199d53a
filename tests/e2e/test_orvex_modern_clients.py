"""orvex with today's clients (modern_client_support), with the virtual filesystem's owners,
modes and rights in MLSD and MLST; one server for the module."""

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


if __name__ == "__main__":
    unittest.main()
