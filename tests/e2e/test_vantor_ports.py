"""vantor's passive-port range: ports handed out from the highest down, a full range refusing,
and the warnings for ranges it cannot use."""

import random
import re
import socket
import unittest
import urllib.request

from harness import RawClient
from vantor_support import VantorCase


def free_run(count):
    """`count` consecutive ports that can be bound right now."""
    for _ in range(50):
        low = random.randrange(20000, 60000)
        socks = []
        try:
            for p in range(low, low + count):
                s = socket.socket()
                socks.append(s)
                s.bind(("127.0.0.1", p))
            return low, low + count - 1
        except OSError:
            continue
        finally:
            for s in socks:
                s.close()
    raise unittest.SkipTest("no run of free ports found")


def pasv_port(reply):
    m = re.search(r"\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", reply)
    assert m, reply
    return int(m.group(5)) * 256 + int(m.group(6))


class PortRangeTest(VantorCase):
    def client(self, server):
        c = RawClient(server.port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        c.cmd("USER anonymous")
        self.assertTrue(c.cmd("PASS x").startswith("230"))
        return c

    def test_ports_from_the_highest_down_until_the_range_is_used_up(self):
        low, high = free_run(3)
        s = self.start(f"-r{low}-{high}")
        clients = [self.client(s) for _ in range(4)]
        got = [pasv_port(c.cmd("PASV")) for c in clients[:3]]
        self.assertEqual(got, [high, high - 1, low])
        self.assertEqual(clients[3].cmd("PASV"), "500 Unable to bind to a port.")

        # A port comes back when its session ends, and serves a listing.
        clients[1].cmd("QUIT")
        clients[1].close()
        reply = None
        for _ in range(50):
            reply = clients[3].cmd("PASV")
            if reply.startswith("227"):
                break
        self.assertEqual(pasv_port(reply), high - 1)
        data = socket.create_connection(("127.0.0.1", high - 1), timeout=20)
        self.assertTrue(clients[3].cmd("LIST").startswith("150"))
        while data.recv(4096):
            pass
        data.close()
        self.assertTrue(clients[3].reply()[-1].startswith("226"))

        # A new PASV in the same session gives its port back first.
        self.assertEqual(pasv_port(clients[0].cmd("PASV")), high)

    def test_unusable_ranges_warn_and_leave_any_port(self):
        s = self.start("-r5000", "-rabc-def", "-r0-10", "-r1-65535", "-r6000-5000", "-r-")
        self.assertEqual(s.messages()[:6], [
            'WARNING: invalid port range, no "-" was found (using default = any).',
            'WARNING: invalid port range "abc-def" (using default = any).',
            "WARNING: port numbers must be between 1 and 65534 (using default = any).",
            "WARNING: port numbers must be between 1 and 65534 (using default = any).",
            'WARNING: invalid port range "6000-5000" (using default = any).',
            'WARNING: invalid port range "-" (using default = any).',
        ])
        c = self.client(s)
        self.assertTrue(c.cmd("PASV").startswith("227 Entering Passive Mode (127,0,0,1,"))


if __name__ == "__main__":
    unittest.main()


class BalancerOptionsTest(VantorCase):
    def test_proxy_header_passive_address_and_metrics(self):
        metrics = free_run(1)[0]
        server = self.start("-xoptional:127.0.0.1", "-Acontrol", f"-m{metrics}")
        # The header names the client and the address it connected to, which PASV announces.
        c = RawClient(server.port, timeout=20)
        self.addCleanup(c.close)
        c.send("PROXY TCP4 192.0.2.44 198.51.100.9 5000 21\r\n")
        self.assertEqual(c.reply(), ["220 Connected to Vantor"])
        c.cmd("USER anonymous")
        self.assertTrue(c.cmd("PASS x").startswith("230"))
        self.assertRegex(c.cmd("PASV"), r"^227 Entering Passive Mode \(198,51,100,9,\d+,\d+\)")
        c.send("STAT\r\n")
        self.assertIn("(192.0.2.44)", "\n".join(c.reply()))
        # Optional: a client without a header is served as it is.
        plain = RawClient(server.port, timeout=20)
        self.addCleanup(plain.close)
        self.assertEqual(plain.reply(), ["220 Connected to Vantor"])
        plain.cmd("USER anonymous")
        self.assertTrue(plain.cmd("PASS x").startswith("230"))
        self.assertRegex(plain.cmd("PASV"), r"^227 Entering Passive Mode \(127,0,0,1,")
        with urllib.request.urlopen(f"http://127.0.0.1:{metrics}/metrics", timeout=10) as r:
            text = r.read().decode()
        self.assertIn('orvex_build_info{program="vantor",', text)
        self.assertIn('orvex_logins_total{result="success"} 2', text)
