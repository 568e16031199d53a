"""Two orvex servers behind a real HAProxy (mode tcp, PROXY protocol v2), active and backup:
curl, lftp and ftplib through it in clear and with PROT P (TLS 1.2 and 1.3), the client's real
address in SITE SWHO and the access log, failover, a forged header, TLS session reuse on data connections and
the metrics page checked by promtool."""

import ftplib
import glob
import io
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.request

from harness import FTP_TLS
from orvex_support import OrvexSite, eventually, free_port, free_port_run

FRONT = "127.0.0.1"
CLIENT = "127.0.0.9"  # the client's own address, so that it differs from the balancer's
SERVERS = {"a": "127.0.0.2", "b": "127.0.0.3"}
USER, PASSWORD = "orvex", "Adm1nPass"
DATA = bytes((i * 31 + i // 241) & 0xFF for i in range(150000))

HAPROXY_CONFIG = """global
    maxconn 200
defaults
    mode tcp
    timeout connect 5s
    timeout client 60s
    timeout server 60s
frontend control
    bind {front}:{port}
    default_backend control
backend control
    source {front}
    server a {a}:{port} send-proxy-v2 check check-send-proxy inter 300 fall 1 rise 1
    server b {b}:{port} send-proxy-v2 check check-send-proxy inter 300 fall 1 rise 1 backup
frontend passive
    bind {front}:{low}-{high}
    default_backend passive
backend passive
    source {front}
    server a {a} track control/a
    server b {b} track control/b backup
"""


def reusing_client():
    ftp = FTP_TLS(context=ssl._create_unverified_context(), timeout=30,
                  source_address=(CLIENT, 0))
    return ftp


class BalancerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for tool in ("haproxy", "curl", "lftp", "promtool"):
            if not shutil.which(tool):
                raise unittest.SkipTest(f"{tool} is missing")
        cls.tmp = tempfile.mkdtemp(prefix="orvex-balancer-")
        cls.port = free_port()
        cls.low = free_port_run(10)
        cls.metrics_port = free_port()
        cls.sites, cls.servers = {}, {}
        for name, address in SERVERS.items():
            site = OrvexSite(os.path.join(cls.tmp, name))
            site.set_password(USER, PASSWORD)
            site.make_keys()
            site.set_conf(bind_ip=address, server_port=str(cls.port),
                          login_prompt=f"server[:space:]{name}[:space:]ready",
                          pasv_port_range=f"{cls.low} {cls.low + 9}", proxy_protocol="required",
                          proxy_allowed=FRONT, pasv_address="control",
                          metrics_port=str(cls.metrics_port) if name == "a" else None)
            with open(site.path("site/data.bin"), "wb") as f:
                f.write(DATA)
            cls.sites[name] = site
            cls.start_server(name)
        config = os.path.join(cls.tmp, "haproxy.cfg")
        with open(config, "w") as f:
            f.write(HAPROXY_CONFIG.format(front=FRONT, port=cls.port, low=cls.low,
                                          high=cls.low + 9, **SERVERS))
        cls.haproxy = subprocess.Popen(["haproxy", "-db", "-f", config],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not eventually(lambda: cls.greeting().endswith("server a ready"), timeout=20):
            cls.tearDownClass()
            raise AssertionError("HAProxy did not forward to server a")

    @classmethod
    def start_server(cls, name):
        cls.servers[name] = cls.sites[name].start()
        cls.servers[name].ready()

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "haproxy", None):
            cls.haproxy.terminate()
            cls.haproxy.wait(20)
        for server in cls.servers.values():
            server.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def greeting(cls):
        """The last line of the greeting that comes through the balancer."""
        text = b""
        try:
            with socket.create_connection((FRONT, cls.port), timeout=5) as s:
                while not text.startswith(b"220 ") and b"\n220 " not in text:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    text += chunk
        except OSError:
            pass
        lines = text.decode(errors="replace").strip().splitlines()
        return lines[-1] if lines else ""

    def run_client(self, *argv):
        home = os.path.join(self.tmp, "client-home")
        os.makedirs(home, exist_ok=True)
        r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                           cwd=home, env=dict(os.environ, HOME=home, LFTP_HOME=home))
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace")[-3000:])
        return r.stdout

    def curl(self, *args):
        return self.run_client("curl", "-sS", "-k", "--max-time", "60", "--interface", CLIENT,
                               "-u", f"{USER}:{PASSWORD}", *args)

    def lftp(self, *commands):
        return self.run_client("lftp", "-c", "; ".join([
            "set ssl:verify-certificate no", "set net:max-retries 1",
            f"set net:socket-bind-ipv4 {CLIENT}", f"open -u {USER},{PASSWORD} "
            f"ftp://{FRONT}:{self.port}", *commands])).decode(errors="replace")

    def access_log(self, name):
        text = ""
        for path in glob.glob(self.sites[name].path("ftp-data/logs/*access.log")):
            with open(path, errors="replace") as f:
                text += f.read()
        return text

    def test_1_clients_through_the_balancer(self):
        url = f"ftp://{FRONT}:{self.port}"
        upload = os.path.join(self.tmp, "upload.bin")
        with open(upload, "wb") as f:
            f.write(DATA[:5000])
        for tls in ((), ("--ssl-reqd", "--tls-max", "1.2"), ("--ssl-reqd", "--tlsv1.3")):
            self.assertEqual(self.curl(*tls, f"{url}/data.bin"), DATA, tls)
            self.curl(*tls, "-T", upload, f"{url}/curl{len(tls)}.bin")
        for priority in ("NORMAL:-VERS-ALL:+VERS-TLS1.2", "NORMAL:-VERS-ALL:+VERS-TLS1.3"):
            target = os.path.join(self.tmp, "lftp.bin")
            self.lftp("set ftp:ssl-force yes", "set ftp:ssl-protect-data yes",
                      f'set ssl:priority "{priority}"', f"get data.bin -o {target}",
                      f"put {target} -o lftp-{priority[-3:]}.bin")
            with open(target, "rb") as f:
                self.assertEqual(f.read(), DATA)
        self.assertIn("data.bin", self.lftp("cls -1"))

        for secure in (False, True):
            ftp = reusing_client() if secure else ftplib.FTP(timeout=30,
                                                              source_address=(CLIENT, 0))
            ftp.connect(FRONT, self.port)
            ftp.login(USER, PASSWORD)
            if secure:
                ftp.prot_p()
            got = io.BytesIO()
            ftp.retrbinary("RETR data.bin", got.write)
            self.assertEqual(got.getvalue(), DATA)
            ftp.storbinary(f"STOR py{int(secure)}.bin", io.BytesIO(DATA[:777]))
            self.assertIn(f"py{int(secure)}.bin", ftp.nlst())
            # The server sees the client, not the balancer.
            self.assertIn(f" {CLIENT} ", ftp.sendcmd("SITE SWHO"))
            ftp.quit()
        for name in ("curl0.bin", "curl3.bin", "py0.bin", "py1.bin"):
            self.assertTrue(os.path.exists(self.sites["a"].path(f"site/{name}")), name)
        # Only the balancer's health checks (PROXY LOCAL) keep its own address.
        self.assertTrue(eventually(lambda: f";{CLIENT};" in self.access_log("a")))
        self.assertNotRegex(self.access_log("a"), f";{re.escape(FRONT)};\\d+;{USER};")

    def test_2_forged_header_and_tls_reuse(self):
        # A header from an address not allowed to send one closes the connection unanswered.
        with socket.create_connection((SERVERS["a"], self.port), timeout=10,
                                      source_address=(CLIENT, 0)) as s:
            s.sendall(b"PROXY TCP4 203.0.113.7 127.0.0.2 5555 21\r\n")
            try:
                self.assertEqual(s.recv(4096), b"")
            except ConnectionResetError:
                pass  # closed with the header unread
        self.assertTrue(self.servers["a"].wait_for(
            f"Connection refused from {CLIENT}:\\d+: not allowed to send a PROXY header"))
        # ftplib as it comes starts a new TLS session on the data connection: refused.
        plain = ftplib.FTP_TLS(context=ssl._create_unverified_context(), timeout=30)
        plain.connect(FRONT, self.port)
        plain.login(USER, PASSWORD)
        plain.prot_p()
        with self.assertRaisesRegex(ftplib.error_perm,
                                    "^522 TLS session of data connection not resumed"):
            plain.nlst()
        # Turned off for old clients, it works again.
        self.sites["a"].set_conf(tls_data_reuse="0")
        self.addCleanup(self.sites["a"].set_conf, tls_data_reuse=None)

        def listing():
            try:
                return "data.bin" in plain.nlst()
            except ftplib.error_perm:
                return False

        self.assertTrue(eventually(listing, timeout=15))
        plain.quit()

    def test_3_metrics(self):
        url = f"http://127.0.0.1:{self.metrics_port}/metrics"
        with urllib.request.urlopen(url, timeout=10) as r:
            text = r.read().decode()
        check = subprocess.run(["promtool", "check", "metrics"], input=text, text=True,
                               capture_output=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        values = {}
        for line in text.splitlines():
            if line and not line.startswith("#"):
                key, value = line.rsplit(" ", 1)
                values[key] = float(value)
        self.assertGreater(values['orvex_logins_total{result="success"}'], 0)
        self.assertGreater(values['orvex_transfers_total{command="RETR",result="success"}'], 0)
        self.assertGreaterEqual(values["orvex_sent_bytes_total"], len(DATA))
        self.assertGreater(values['orvex_prelogin_refusals_total{cause="proxy_header"}'], 0)
        self.assertGreater(
            values['orvex_data_connections_refused_total{reason="tls_session_not_resumed"}'], 0)
        self.assertGreater(values['orvex_tls_handshakes_total{result="success"}'], 0)
        self.assertGreater(values["orvex_process_start_time_seconds"], time.time() - 3600)
        with self.assertRaises(urllib.error.HTTPError):
            urllib.request.urlopen(f"http://127.0.0.1:{self.metrics_port}/other", timeout=10)

    def test_4_failover_to_the_backup(self):
        self.servers["a"].stop()
        try:
            self.assertTrue(eventually(lambda: self.greeting().endswith("server b ready"),
                                       timeout=20))
            self.assertEqual(self.curl("--ssl-reqd", f"ftp://{FRONT}:{self.port}/data.bin"),
                             DATA)
            self.assertTrue(eventually(lambda: f";{CLIENT};" in self.access_log("b")))
        finally:
            self.start_server("a")


if __name__ == "__main__":
    unittest.main()
