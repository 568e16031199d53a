"""vantor's TLS: AUTH SSL with -e and the implicit port of -i, with a key and certificate made in
memory at start-up; used with Python's ftplib, curl and lftp."""

import ftplib
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

from harness import FTP_TLS, RawClient
from vantor_support import VantorCase

USER, PASSWORD = "tess", "t1s"


def client_context():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


def payload(size, seed=11):
    return bytes((i * seed + i // 251) & 0xFF for i in range(size))


class FtpSsl(FTP_TLS):
    """ftplib's TLS client, asking for "AUTH SSL"."""

    def auth(self):
        resp = self.voidcmd("AUTH SSL")
        self.sock = self.context.wrap_socket(self.sock, server_hostname=self.host)
        self.file = self.sock.makefile(mode="r", encoding=self.encoding)
        return resp


class ImplicitFtp(FTP_TLS):
    """ftplib on a port that is encrypted from the start."""

    def connect(self, host, port, timeout):
        self.host, self.port, self.timeout = host, port, timeout
        raw = socket.create_connection((host, port), timeout)
        self.sock = self.context.wrap_socket(raw, server_hostname=host)
        self.af = self.sock.family
        self.file = self.sock.makefile("r", encoding=self.encoding)
        self.welcome = self.getresp()
        return self.welcome


class TlsCase(VantorCase):
    implicit = False
    options = ("-e",)

    def setUp(self):
        super().setUp()
        self.root = os.path.join(self.tmp, "root")
        os.mkdir(self.root)
        self.server = self.start(f"-U{USER}", f"-P{PASSWORD}", f"-H{self.root}", *self.options,
                                 implicit=self.implicit)

    def file(self, name, data):
        with open(os.path.join(self.root, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def round_trip_ftplib(self, ftp):
        big = payload(300000)
        self.file("big.bin", big)
        ftp.login(USER, PASSWORD)
        ftp.prot_p()
        got = io.BytesIO()
        ftp.retrbinary("RETR big.bin", got.write)
        self.assertEqual(got.getvalue(), big)
        up = payload(77777, seed=5)
        ftp.storbinary("STOR up.bin", io.BytesIO(up))
        self.assertEqual(self.read("up.bin"), up)
        self.assertEqual(sorted(ftp.nlst()), ["big.bin", "up.bin"])
        ftp.quit()

    def curl(self, *args):
        if not shutil.which("curl"):
            self.skipTest("curl is missing")
        r = subprocess.run(["curl", "-sS", "-k", "--max-time", "60", "-u", f"{USER}:{PASSWORD}",
                            *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return r.stdout

    def curl_round_trip(self, url, *mode):
        big = payload(500000)
        self.file("c.bin", big)
        self.assertEqual(self.curl(*mode, url + "c.bin"), big)
        src = os.path.join(self.tmp, "src.bin")
        with open(src, "wb") as f:
            f.write(payload(4321, seed=3))
        self.curl(*mode, "-T", src, url + "cu.bin")
        self.assertEqual(self.read("cu.bin"), payload(4321, seed=3))

    def lftp(self, url):
        if not shutil.which("lftp"):
            self.skipTest("lftp is missing")
        home = os.path.join(self.tmp, "lftp-home")
        os.makedirs(home, exist_ok=True)
        env = dict(os.environ, HOME=home, LFTP_HOME=home)
        self.file("l.bin", payload(200000, seed=9))
        out = os.path.join(self.tmp, "l-got.bin")
        settings = ("set ftp:ssl-auth SSL; set ssl:verify-certificate no; "
                    "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                    "set net:max-retries 1; set net:timeout 20; ")
        r = subprocess.run(["lftp", "-c", settings + f"open -u {USER},{PASSWORD} {url}; "
                            f"get l.bin -o {out}; cls -1"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=self.tmp,
                           timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        with open(out, "rb") as f:
            self.assertEqual(f.read(), payload(200000, seed=9))
        self.assertIn(b"l.bin", r.stdout)


class ExplicitTest(TlsCase):
    def test_ftplib(self):
        ftp = FtpSsl(context=client_context(), timeout=30)
        ftp.connect("127.0.0.1", self.server.port)
        self.addCleanup(ftp.close)
        ftp.auth()
        self.round_trip_ftplib(ftp)

    def test_curl(self):
        self.curl_round_trip(f"ftp://127.0.0.1:{self.server.port}/", "--ssl-reqd")

    def test_lftp(self):
        self.lftp(f"ftp://127.0.0.1:{self.server.port}")

    def test_certificate_made_at_start_up(self):
        c = RawClient(self.server.port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        self.assertEqual(c.cmd("AUTH SSL"), "234 Security data exchange complete.")
        tls = client_context().wrap_socket(c.sock)
        c.sock = tls
        der = tls.getpeercert(binary_form=True)
        pem_path = os.path.join(self.tmp, "peer.pem")
        with open(pem_path, "w") as f:
            f.write(ssl.DER_cert_to_PEM_cert(der))
        cert = ssl._ssl._test_decode_cert(pem_path)
        subject = [pair for rdn in cert["subject"] for pair in rdn]
        names = [k for k, _ in subject]
        self.assertEqual(names, ["countryName", "stateOrProvinceName", "localityName",
                                 "organizationName", "organizationalUnitName", "commonName",
                                 "emailAddress"])
        values = dict(subject)
        self.assertEqual([values[n] for n in names[:5]], ["XX", "None", "None", "Vantor", "None"])
        self.assertRegex(values["commonName"], r"^\d+\.\d+\.\d+\.\d+$")
        self.assertIn("@", values["emailAddress"])
        self.assertEqual(cert["issuer"], cert["subject"])
        self.assertEqual(cert["serialNumber"], "00")
        begin = ssl.cert_time_to_seconds(cert["notBefore"])
        end = ssl.cert_time_to_seconds(cert["notAfter"])
        self.assertEqual(end - begin, 365 * 24 * 3600)
        self.assertLess(abs(begin - time.time()), 24 * 3600)
        if shutil.which("openssl"):
            text = subprocess.run(["openssl", "x509", "-noout", "-text", "-in", pem_path],
                                  capture_output=True, text=True, timeout=60).stdout
            self.assertIn("sha256WithRSAEncryption", text)
            self.assertIn("(2048 bit)", text)
            self.assertIn("Exponent: 65537", text)
        # The session goes on encrypted.
        c.buf = b""
        self.assertEqual(c.cmd(f"USER {USER}"), f"331 Password required for {USER}.")


class ImplicitTest(TlsCase):
    implicit = True
    options = ()

    def test_listening_lines(self):
        self.assertIn(f"Listening for implicit SSL connections on port {self.server.ssl_port}.",
                      self.server.messages())
        self.assertEqual(self.server.stop(), 0)
        msgs = self.server.messages()
        self.assertIn(f"SSL server stopped on port {self.server.ssl_port}", msgs)
        self.assertLess(msgs.index(f"SSL server stopped on port {self.server.ssl_port}"),
                        msgs.index(f"Server stopped on port {self.server.port}"))

    def test_ftplib(self):
        ftp = ImplicitFtp(context=client_context(), timeout=30)
        self.assertEqual(ftp.connect("127.0.0.1", self.server.ssl_port, 30),
                         "220 Connected to Vantor")
        self.addCleanup(ftp.close)
        self.round_trip_ftplib(ftp)

    def test_curl(self):
        self.curl_round_trip(f"ftps://127.0.0.1:{self.server.ssl_port}/")

    def test_lftp(self):
        self.lftp(f"ftps://127.0.0.1:{self.server.ssl_port}")


class NoTlsTest(TlsCase):
    options = ()

    def test_auth_refused_without_keys(self):
        c = RawClient(self.server.port, timeout=20)
        self.addCleanup(c.close)
        c.reply()
        self.assertEqual(c.cmd("AUTH SSL"), "421 Unable to initialize SSL.")


if __name__ == "__main__":
    unittest.main()
