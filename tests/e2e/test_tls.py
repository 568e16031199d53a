"""TLS on control and data connections: AUTH SSL, PBSZ, PROT and the implicit-TLS port, with raw
sockets, Python's ftplib, curl and lftp."""

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

from harness import BaseSiteServer, FTP_TLS, RawClient, TempDirTestCase
from session_support import GREETING, ServerCase, expect_reply, message_lines

PASS = "quosk"
KEYS = {}


def setUpModule():
    if not shutil.which("openssl"):
        raise unittest.SkipTest("the openssl command is missing")
    KEYS["dir"] = tempfile.mkdtemp(prefix="orvex-tls-keys-")
    KEYS["key"] = os.path.join(KEYS["dir"], "k.pem")
    KEYS["cert"] = os.path.join(KEYS["dir"], "c.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-keyout", KEYS["key"],
                    "-out", KEYS["cert"], "-days", "1", "-subj", "/CN=test",
                    "-passout", "pass:" + PASS],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def tearDownModule():
    if "dir" in KEYS:
        shutil.rmtree(KEYS["dir"], ignore_errors=True)


def client_context():
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.verify_mode = ssl.CERT_NONE
    return ctx


def pasv_port(reply):
    m = re.search(r"\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)", reply)
    assert m, reply
    return int(m.group(5)) * 256 + int(m.group(6))


def payload(size, seed=7):
    return bytes((i * seed + i // 253) & 0xFF for i in range(size))


class FtpSsl(FTP_TLS):
    """ftplib's TLS client, asking for "AUTH SSL" in place of "AUTH TLS"."""

    def auth(self):
        if isinstance(self.sock, ssl.SSLSocket):
            raise ValueError("Already using TLS")
        resp = self.voidcmd("AUTH SSL")
        self.sock = self.context.wrap_socket(self.sock, server_hostname=self.host)
        self.file = self.sock.makefile(mode="r", encoding=self.encoding)
        return resp


class TlsCase(ServerCase):
    """A server with key and certificate and an implicit-TLS port (`with_keys`), or without."""

    with_keys = True
    extra_args = ()

    def setUp(self):
        TempDirTestCase.setUp(self)
        self.root = os.path.join(self.tmp, "root")
        self.logs = os.path.join(self.tmp, "logs")
        os.mkdir(self.root)
        os.mkdir(self.logs)
        args, words = ["--log-dir", self.logs], ("ready",)
        if self.with_keys:
            args += ["--cert", KEYS["cert"], "--key", KEYS["key"], "--pass", PASS,
                     "--implicit-port", "0"]
            words = ("ready", "ready-ssl")
        self.server = BaseSiteServer(self.root, extra=[*args, *self.extra_args], cwd=self.tmp,
                                     ready_words=words)
        self.addCleanup(self.check_server_output)
        self.addCleanup(self.server.stop)

    def check_server_output(self):
        """Runs after the server has stopped: sanitizer builds report there."""
        reports = [line for line in self.server.output if "Sanitizer" in line]
        self.assertEqual(reports, [], "\n".join(self.server.output[-60:]))

    @property
    def ssl_port(self):
        return self.server.ports["ready-ssl"]

    def secure(self, client):
        """AUTH SSL on a raw client, then TLS on its socket."""
        self.assertEqual(client.cmd("AUTH SSL"), "234 Security data exchange complete.")
        self.assertEqual(client.buf, b"")
        client.sock = client_context().wrap_socket(client.sock)
        return client

    def implicit(self, timeout=10):
        client = RawClient(self.ssl_port, timeout=timeout)
        self.addCleanup(client.close)
        client.sock = client_context().wrap_socket(client.sock)
        self.assertEqual(client.reply(), [GREETING])
        return client

    def file(self, name, data):
        with open(os.path.join(self.root, name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def ftp(self, passive=True):
        f = FtpSsl(context=client_context(), timeout=20)
        f.connect("127.0.0.1", self.server.port)
        self.addCleanup(f.close)
        f.login("bob", "secret")
        f.prot_p()
        f.set_pasv(passive)
        return f


class NoKeysTest(TlsCase):
    with_keys = False

    def test_auth_refusals_leave_the_connection_clear(self):
        c = self.connect()
        self.assertEqual(c.cmd("AUTH"), "500 'AUTH': Invalid number of parameters.")
        self.assertEqual(c.cmd("AUTH TLS"), "504 Command not implemented for that parameter.")
        self.assertEqual(c.cmd("AUTH SSL"), "421 Unable to initialize SSL.")
        self.assertEqual(c.cmd("PBSZ 0"), "503 Bad sequence of commands.")
        self.assertEqual(c.cmd("PROT P"), "503 Bad sequence of commands.")
        self.login(client=c)
        self.assertEqual(c.cmd("PBSZ 0"), "503 Bad sequence of commands.")
        self.assertEqual(c.cmd("PROT C"), "503 Bad sequence of commands.")
        self.assertEqual(c.cmd("auth ssl"), "421 Unable to initialize SSL.")


class ControlTest(TlsCase):
    def test_auth_with_an_unknown_mechanism_is_refused_and_the_connection_stays_clear(self):
        c = self.connect()
        self.assertEqual(c.cmd("AUTH KERBEROS"), "504 Command not implemented for that parameter.")
        self.assertEqual(c.cmd("USER bob"), "331 Password required for bob.")

    def test_pbsz_and_prot_on_an_encrypted_connection(self):
        c = self.secure(self.connect())
        self.assertEqual(c.cmd("PBSZ"), "500 'PBSZ': Invalid number of parameters.")
        self.assertEqual(c.cmd("PBSZ 1024"), "200 Command ok.  PBSZ=0")
        self.assertEqual(c.cmd("PROT"), "500 'PROT': Invalid number of parameters.")
        self.assertEqual(c.cmd("PROT X"), "500 'PROT X': command not understood.")
        for level in ("P", "s", "E", "p"):
            self.assertEqual(c.cmd(f"PROT {level}"), "200 Encrypting Data Channel")
        self.assertEqual(c.cmd("prot c"), "200 Not Encrypting Data Channel")
        self.assertEqual(c.cmd("AUTH SSL"), "500 Control connection is already encrypted.")
        self.login(client=c)
        self.assertEqual(c.cmd("AUTH SSL"), "500 Control connection is already encrypted.")
        self.assertEqual(c.cmd("PBSZ 0"), "200 Command ok.  PBSZ=0")

    def test_commands_in_one_record_are_answered_at_once(self):
        c = self.secure(self.connect())
        c.sock.settimeout(5)
        c.send("PBSZ 0\r\nPROT P\r\n")
        self.assertEqual(c.reply(), ["200 Command ok.  PBSZ=0"])
        self.assertEqual(c.reply(), ["200 Encrypting Data Channel"])

    def test_failed_handshake_after_auth_ends_the_connection(self):
        for mechanism in ("SSL", "TLS"):
            c = self.connect()
            self.assertEqual(c.cmd("AUTH " + mechanism), "234 Security data exchange complete.")
            # Bytes that are no TLS record, with a command behind them: the handshake fails and
            # the command never runs in clear text.
            c.send("JUNK!\r\nUSER bob\r\n")
            c.sock.settimeout(15)
            rest = b""
            while True:
                try:
                    chunk = c.sock.recv(4096)
                except ConnectionResetError:
                    break
                if not chunk:
                    break
                rest += chunk
            self.assertNotIn(b"331", rest, mechanism)


class ImplicitPortTest(TlsCase):
    def test_first_list_already_expects_tls_on_data(self):
        self.file("a.txt", b"hello\n")
        c = self.login(client=self.implicit())
        port = pasv_port(c.cmd("PASV"))
        data = socket.create_connection(("127.0.0.1", port), timeout=10)
        c.send("LIST\r\n")
        tls = c.sock.context.wrap_socket(data, session=c.sock.session)
        self.assertTrue(c.reply()[-1].startswith("150 "))
        listing = b""
        while True:
            chunk = tls.recv(4096)
            if not chunk:
                break
            listing += chunk
        tls.close()
        self.assertTrue(c.reply()[-1].startswith("226 "))
        self.assertIn(b" a.txt\r\n", listing)

    def test_stat_listing_travels_on_the_encrypted_control(self):
        self.file("a.txt", b"hello\n")
        c = self.login(client=self.implicit())
        c.send("STAT .\r\n")
        lines = c.reply()
        self.assertEqual(lines[-1], "213 End of status.")
        self.assertTrue(any(line.endswith(" a.txt") for line in lines), lines)

    def test_silent_client_does_not_block_the_port(self):
        silent = socket.create_connection(("127.0.0.1", self.ssl_port), timeout=10)
        self.addCleanup(silent.close)
        time.sleep(0.3)
        start = time.monotonic()
        c = self.implicit(timeout=10)
        self.assertEqual(c.cmd("USER bob"), "331 Password required for bob.")
        self.assertLess(time.monotonic() - start, 8)

    def test_handshakes_are_logged(self):
        self.implicit().close()
        junk = socket.create_connection(("127.0.0.1", self.ssl_port), timeout=10)
        junk.sendall(b"USER bob\r\n")
        junk.settimeout(10)
        try:
            while junk.recv(4096):
                pass
        except OSError:
            pass
        junk.close()
        time.sleep(0.3)
        self.stop_server()
        log = message_lines(self.program_log())
        self.assertTrue(any(re.fullmatch(
            r"SSL connection established from 127\.0\.0\.1:\d+ -> \S* \(\d+\)\.", m)
            for m in log), log)
        self.assertTrue(any(re.fullmatch(
            r"SSL negotiation failed from 127\.0\.0\.1:\d+ -> \S* \(\d+\)\.", m)
            for m in log), log)
        verbs = [row[6] for row in self.access_fields()]
        self.assertIn("CONNECTSSL", verbs)


class ImplicitWithoutKeysTest(TlsCase):
    with_keys = False
    extra_args = ("--implicit-port", "0")

    def test_listener_warns_ends_and_the_server_still_stops(self):
        self.login()
        time.sleep(0.5)
        self.stop_server()
        self.assertIn("WARNING: unable to initialize the SSL information.",
                      message_lines(self.program_log()))


class FtplibTest(TlsCase):
    def transfers(self, passive):
        big = payload(700001)
        self.file("big.bin", big)
        f = self.ftp(passive)
        got = io.BytesIO()
        f.retrbinary("RETR big.bin", got.write)
        self.assertEqual(got.getvalue(), big)
        lines = []
        f.retrlines("LIST", lines.append)
        self.assertTrue(any(line.endswith(" big.bin") for line in lines), lines)
        up = payload(500003, seed=13)
        f.storbinary("STOR up.bin", io.BytesIO(up))
        self.assertEqual(self.read("up.bin"), up)
        f.storbinary("APPE up.bin", io.BytesIO(b"tail"))
        self.assertEqual(self.read("up.bin"), up + b"tail")
        resp = f.storbinary("STOU up.bin", io.BytesIO(b"unique"))
        self.assertTrue(resp.startswith("226"), resp)
        stored = [n for n in os.listdir(self.root) if n not in ("big.bin", "up.bin")]
        self.assertEqual([self.read(n) for n in stored], [b"unique"])
        f.quit()

    def test_passive_transfers_after_prot_p(self):
        self.transfers(passive=True)

    def test_active_transfers_after_prot_p(self):
        self.transfers(passive=False)

    def test_prot_c_goes_back_to_clear_data(self):
        self.file("a.txt", b"clear data")
        f = self.ftp()
        f.prot_c()
        got = io.BytesIO()
        f.retrbinary("RETR a.txt", got.write)
        self.assertEqual(got.getvalue(), b"clear data")

    def test_passive_retr_without_data_tls_is_answered_427(self):
        self.file("a.txt", b"secret")
        c = self.login(client=self.secure(self.connect()))
        self.assertEqual(c.cmd("PROT P"), "200 Encrypting Data Channel")
        data = socket.create_connection(("127.0.0.1", pasv_port(c.cmd("PASV"))), timeout=10)
        c.send("RETR a.txt\r\n")
        self.assertTrue(c.reply()[-1].startswith("150 "))
        data.close()
        self.assertEqual(c.reply(), ["427 Unable to establish an encrypted data channel."])
        self.assertEqual(c.cmd("NOOP")[:4], "200 ")

    def test_upload_ended_without_close_notify_is_complete(self):
        c = self.login(client=self.secure(self.connect()))
        self.assertEqual(c.cmd("PROT P"), "200 Encrypting Data Channel")
        self.assertTrue(c.cmd("TYPE I").startswith("200 "))
        data = socket.create_connection(("127.0.0.1", pasv_port(c.cmd("PASV"))), timeout=10)
        c.send("STOR raw.bin\r\n")
        tls = c.sock.context.wrap_socket(data, session=c.sock.session)
        self.assertTrue(c.reply()[-1].startswith("150 "))
        body = payload(300007)
        tls.sendall(body)
        # Drop the TCP connection under the TLS layer, as careless clients do.
        raw = socket.socket(fileno=os.dup(tls.fileno()))
        raw.shutdown(socket.SHUT_RDWR)
        raw.close()
        tls.close()
        self.assertTrue(c.reply()[-1].startswith("226 "))
        self.assertEqual(self.read("raw.bin"), body)


class MidTransferTest(TlsCase):
    """ABOR, QUIT and a vanished client while a protected download runs."""

    SIZE = 16 << 20

    def start_download(self):
        self.file("big.bin", payload(self.SIZE))
        c = self.login(client=self.secure(self.connect()))
        self.assertEqual(c.cmd("PROT P"), "200 Encrypting Data Channel")
        self.assertTrue(c.cmd("TYPE I").startswith("200 "))
        data = socket.create_connection(("127.0.0.1", pasv_port(c.cmd("PASV"))), timeout=10)
        c.send("RETR big.bin\r\n")
        tls = c.sock.context.wrap_socket(data, session=c.sock.session)
        self.addCleanup(tls.close)
        self.assertTrue(c.reply()[-1].startswith("150 "))
        self.assertTrue(tls.recv(4096))
        return c, tls

    def still_serving(self):
        f = self.ftp()
        got = io.BytesIO()
        f.retrbinary("RETR big.bin", got.write, blocksize=65536)
        self.assertEqual(len(got.getvalue()), self.SIZE)
        f.quit()
        self.stop_server()

    def test_abor(self):
        c, tls = self.start_download()
        c.send("ABOR\r\n")
        self.assertIn("225 ABOR command successful.", expect_reply(c, "225"))
        tls.close()
        c.send("NOOP\r\n")
        expect_reply(c, "200", timeout=20)
        self.still_serving()

    def test_quit(self):
        c, tls = self.start_download()
        c.send("QUIT\r\n")
        self.assertIn("221 Exit.", expect_reply(c, "221"))
        self.still_serving()

    def test_vanished_client(self):
        c, tls = self.start_download()
        # Gone without close_notify on either connection.
        c.sock.close()
        tls.close()
        self.still_serving()


class CurlTest(TlsCase):
    def setUp(self):
        if not shutil.which("curl"):
            self.skipTest("curl is missing")
        super().setUp()

    def curl(self, *args):
        r = subprocess.run(["curl", "-sS", "-k", "--max-time", "60", "-u", "bob:secret", *args],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return r.stdout

    def round_trip(self, url, *mode):
        big = payload(1 << 20)
        self.file("big.bin", big)
        self.assertEqual(self.curl(*mode, url + "big.bin"), big)
        self.assertIn(b" big.bin", self.curl(*mode, url))
        src = os.path.join(self.tmp, "src.bin")
        up = payload(654321, seed=5)
        with open(src, "wb") as f:
            f.write(up)
        self.curl(*mode, "-T", src, url + "up.bin")
        self.assertEqual(self.read("up.bin"), up)

    def test_ssl_reqd_on_the_plain_port(self):
        self.round_trip(f"ftp://127.0.0.1:{self.server.port}/", "--ssl-reqd")

    # Active mode with TLS is left to ftplib and lftp: curl releases from 7.87 to 8.0 never start
    # TLS on a data connection they accepted.

    def test_implicit_port(self):
        self.round_trip(f"ftps://127.0.0.1:{self.ssl_port}/")


class LftpTest(TlsCase):
    def setUp(self):
        if not shutil.which("lftp"):
            self.skipTest("lftp is missing")
        super().setUp()

    def lftp(self, script):
        home = os.path.join(self.tmp, "home")
        os.makedirs(home, exist_ok=True)
        env = dict(os.environ, HOME=home, LFTP_HOME=home)
        settings = ("set ftp:ssl-auth SSL; set ssl:verify-certificate no; "
                    "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                    "set net:max-retries 1; set net:timeout 20; ")
        r = subprocess.run(["lftp", "-c", settings + script], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=env, cwd=self.tmp, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return r.stdout

    def get_put_and_list(self, passive, url=None):
        big = payload(900000)
        self.file("big.bin", big)
        src = os.path.join(self.tmp, "src.bin")
        up = payload(123457, seed=3)
        with open(src, "wb") as f:
            f.write(up)
        out = os.path.join(self.tmp, "got.bin")
        listing = self.lftp(
            f"set ftp:passive-mode {'true' if passive else 'false'}; "
            f"open -u bob,secret {url or f'ftp://127.0.0.1:{self.server.port}'}; "
            f"get big.bin -o {out}; put {src} -o up.bin; cls -l")
        with open(out, "rb") as f:
            self.assertEqual(f.read(), big)
        self.assertEqual(self.read("up.bin"), up)
        self.assertIn(b"big.bin", listing)

    def test_passive(self):
        self.get_put_and_list(passive=True)

    def test_active(self):
        self.get_put_and_list(passive=False)

    def test_implicit_port(self):
        self.get_put_and_list(passive=True, url=f"ftps://127.0.0.1:{self.ssl_port}")


if __name__ == "__main__":
    unittest.main()
