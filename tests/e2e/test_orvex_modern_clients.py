"""orvex with today's clients: AUTH TLS, FEAT before login, EPSV/EPRT over IPv4 and IPv6,
MLSD/MLST with the virtual filesystem's owners and modes, with raw sessions, ftplib, lftp and
curl. One server, bound to "::" where the host has IPv6 loopback, serves the whole module."""

import os
import socket
import unittest

from harness import RawClient
from modern_client_support import ModernClients, epsv_port, ipv6_loopback
from orvex_support import free_port
from site_admin_support import SiteAdminCase

SIX = ipv6_loopback()
IMPLICIT = free_port()


class OrvexModernClients(ModernClients, SiteAdminCase):
    users = {"fay": {"group": "users", "flags": "1"}, "gus": {"group": "users"}}
    conf = {"bind_ip": "::" if SIX else "127.0.0.1", "server_sslport": str(IMPLICIT)}
    user, password = "fay", "pw"
    owner, group = "fay", "users"
    implicit_port = IMPLICIT
    ipv6 = SIX

    @classmethod
    def prepare(cls):
        cls.site.make_keys()

    def setUp(self):
        self.served = self.site.path("site")

    def expected_mode(self, name, directory):
        # The mode LIST shows for the same entry, from the filesystem's own records.
        c = self.raw()
        self.log_in(c)
        port = epsv_port(c.cmd("EPSV"))
        text, final = self.data_listing(
            c, "LIST", lambda: socket.create_connection(("127.0.0.1", port), timeout=20))
        self.assertTrue(final.startswith("226 "), final)
        for line in text.splitlines():
            if line.split()[-1] == name:
                bits = line[1:10]
                return "0%o" % sum(1 << (8 - i) for i, c in enumerate(bits) if c != "-")
        self.fail(f"{name} is not in {text!r}")

    def test_orvex_shows_owners_and_permissions_of_its_virtual_filesystem(self):
        # An entry the filesystem has no record of belongs to nobody the site knows.
        with open(os.path.join(self.served, "stray.txt"), "w") as f:
            f.write("x")
        c = self.raw()
        self.log_in(c)
        lines = self.lines(c, "MLST stray.txt")
        self.assertIn("unix.owner=system;unix.group=system;", lines[1])
        port = epsv_port(c.cmd("EPSV"))
        c.send("STOR owned.txt\r\n")
        with socket.create_connection(("127.0.0.1", port), timeout=20) as data:
            self.assertTrue(c.reply()[-1].startswith("150 "))
            data.sendall(b"mine")
        self.assertTrue(c.reply()[-1].startswith("226 "))
        self.assertRegex(self.lines(c, "MLST owned.txt")[1],
                         r"^ type=file;size=4;modify=\d{14};perm=rawdf;unix.mode=0644;"
                         r"unix.owner=fay;unix.group=users; owned.txt$")
        # Another user sees fay's file with the rights the filesystem's modes give him.
        other = RawClient(self.port, timeout=20)
        self.addCleanup(other.close)
        other.reply()
        self.assertEqual(other.cmd("USER gus"), "331 Password required for gus.")
        other.send("PASS pw\r\n")
        self.assertEqual(other.reply()[-1], "230 User gus logged in.")
        # LIST of the file is refused him, but MLST answers as MDTM and SIZE do.
        self.assertEqual(other.cmd("LIST owned.txt"), "550 owned.txt: Permission denied.")
        self.assertRegex(self.lines(other, "MLST owned.txt")[1],
                         r"^ type=file;size=4;modify=\d{14};perm=r;unix.mode=0644;"
                         r"unix.owner=fay;unix.group=users; owned.txt$")
        text, final = self.data_listing(other, "MLSD", self.passive(other))
        self.assertTrue(final.startswith("226 "), final)
        self.assertRegex(text, r"(?m)^type=file;size=4;modify=\d{14};perm=r;unix.mode=0644;"
                               r"unix.owner=fay;unix.group=users; owned.txt\r$")


if __name__ == "__main__":
    unittest.main()
