"""vantor with today's clients: AUTH TLS, FEAT before login, EPSV/EPRT over IPv4 and IPv6,
MLSD/MLST and OPTS, with raw sessions, ftplib, lftp and curl. One server, bound to "::" where
the host has IPv6 loopback, serves the whole module."""

import os
import shutil
import stat
import tempfile
import unittest

from modern_client_support import ModernClients, ipv6_loopback
from vantor_support import Vantor, free_port

SERVER = {}


def setUpModule():
    tmp = tempfile.mkdtemp(prefix="vantor-modern-")
    served = os.path.join(tmp, "root")
    os.mkdir(served)
    six = ipv6_loopback()
    port = free_port()
    try:
        server = Vantor([f"-p{port}", "-b::" if six else "-b127.0.0.1", "-e", "-Ufay", "-Pf4y",
                         f"-H{served}"], tmp, port_args=False, implicit=True)
    except BaseException:
        shutil.rmtree(tmp, ignore_errors=True)
        raise
    SERVER.update(tmp=tmp, served=served, server=server, port=port, implicit=server.ssl_port,
                  six=six)


def tearDownModule():
    if "server" in SERVER:
        SERVER["server"].stop()
    shutil.rmtree(SERVER.get("tmp", ""), ignore_errors=True)


class VantorModernClients(ModernClients, unittest.TestCase):
    user, password = "fay", "f4y"
    owner, group = "owner", "group"

    def setUp(self):
        self.port = SERVER["port"]
        self.implicit_port = SERVER["implicit"]
        self.served = SERVER["served"]
        self.ipv6 = SERVER["six"]

    def expected_mode(self, name, directory):
        # vantor shows the disk's own permission bits.
        return "0%o" % stat.S_IMODE(os.stat(os.path.join(self.served, name)).st_mode)


if __name__ == "__main__":
    unittest.main()
