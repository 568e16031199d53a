"""vantor with today's clients (modern_client_support), one server for the module."""

import os
import shutil
import tempfile
import unittest

from modern_client_support import ModernClients, ipv6_loopback
from vantor_support import Vantor, free_port


class VantorModernClients(ModernClients, unittest.TestCase):
    user, password, owner, group, ipv6 = "fay", "f4y", "owner", "group", ipv6_loopback()

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vantor-modern-")
        cls.served, cls.port = os.path.join(cls.tmp, "root"), free_port()
        os.mkdir(cls.served)
        cls.server = Vantor([f"-p{cls.port}", "-b::" if cls.ipv6 else "-b127.0.0.1", "-e",
                             "-Ufay", "-Pf4y", f"-H{cls.served}"], cls.tmp, port_args=False)
        # vantor shows the disk's own bits: what the umask leaves of 0666 and 0777.
        umask = os.umask(0)
        os.umask(umask)
        cls.modes = {False: "0%o" % (0o666 & ~umask), True: "0%o" % (0o777 & ~umask)}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
