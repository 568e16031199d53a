"""Peers for the remote-alias tests: vsftpd started from a generated configuration on a loopback
port, a small scripted FTP server for the faults real servers rarely show, and an orvex site
whose aliases point at them."""

import ftplib
import io
import os
import re
import shutil
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

from harness import FTP_TLS, RawClient
from orvex_support import OrvexSite, eventually, free_port, user_file

PASSWORD = "Adm1nPass"
PASV_REPLY = re.compile(r"227 .*\((\d+),(\d+),(\d+),(\d+),(\d+),(\d+)\)")


def make_cert(directory):
    key = os.path.join(directory, "peer-key.pem")
    cert = os.path.join(directory, "peer-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1"],
                   check=True, capture_output=True, timeout=60)
    return key, cert


def wait_port(port, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class Vsftpd:
    """vsftpd as a normal process on 127.0.0.1 with anonymous logins. The anonymous root is
    `root`; vsftpd refuses a writable one, so uploads go to its subdirectory "pub"."""

    def __init__(self, work, root, tls=None, extra=()):
        exe = shutil.which("vsftpd") or "/usr/sbin/vsftpd"
        if not os.path.exists(exe):
            raise unittest.SkipTest("vsftpd is not installed")
        empty = tempfile.mkdtemp(prefix="vsftpd-empty-", dir=work)
        os.chmod(empty, 0o755)
        os.makedirs(os.path.join(root, "pub"), exist_ok=True)
        os.chmod(root, 0o755)
        os.chmod(os.path.join(root, "pub"), 0o777)
        self.root = root
        lines = [
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "background=NO",
            "anonymous_enable=YES", "local_enable=NO", "write_enable=YES",
            "anon_upload_enable=YES", "anon_mkdir_write_enable=YES",
            "anon_other_write_enable=YES", "anon_umask=022", "no_anon_password=YES",
            f"anon_root={root}", "allow_writeable_chroot=YES", "ftp_username=ftp",
            "nopriv_user=ftp", f"secure_chroot_dir={empty}", "seccomp_sandbox=NO",
            "pasv_enable=YES", "pasv_address=127.0.0.1", "port_enable=YES",
            "connect_from_port_20=NO", "max_clients=0", "max_per_ip=0", "xferlog_enable=NO",
            "dirmessage_enable=NO", "ascii_download_enable=YES", "ascii_upload_enable=YES",
            "idle_session_timeout=600", "data_connection_timeout=600",
        ]
        if tls:
            key, cert = tls
            lines += ["ssl_enable=YES", "allow_anon_ssl=YES", "force_anon_logins_ssl=NO",
                      "force_anon_data_ssl=NO", "require_ssl_reuse=NO", "ssl_ciphers=HIGH",
                      "ssl_tlsv1=YES", "ssl_sslv2=NO", "ssl_sslv3=NO",
                      f"rsa_cert_file={cert}", f"rsa_private_key_file={key}"]
        lines += list(extra)
        for _ in range(5):
            self.port = free_port()
            conf = os.path.join(work, f"vsftpd-{self.port}.conf")
            with open(conf, "w") as f:
                f.write("\n".join(lines + [f"listen_port={self.port}"]) + "\n")
            self.proc = subprocess.Popen([exe, conf], stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if wait_port(self.port):
                return
            self.stop()
        raise AssertionError("vsftpd did not start")

    def path(self, rel):
        return os.path.join(self.root, rel)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc.stderr:
            self.proc.stderr.close()


class TlsClient(FTP_TLS):
    def __init__(self, **kw):
        super().__init__(context=ssl._create_unverified_context(), **kw)

    def auth(self):
        # The server knows the word SSL only; TLS is what it speaks after it.
        self.voidcmd("AUTH SSL")
        self.sock = self.context.wrap_socket(self.sock, server_hostname=self.host)
        self.file = self.sock.makefile(mode="r", encoding=self.encoding)


class ScriptedServer:
    """A tiny FTP server in a thread. `script` maps a verb (upper case) to a reply text, a list
    of reply lines, or a function (server, connection, argument) returning either; "GREETING"
    is the greeting. Every received line is kept in `received` with its connection's number."""

    def __init__(self, script=None, tls=None):
        self.script = {"GREETING": "220 scripted ready", "USER": "331 send password",
                       "PASS": "230 in", "NOOP": "200 ok", "TYPE": "200 type set",
                       "MODE": "200 mode set", "CWD": "250 cwd ok", "SIZE": "213 42",
                       "SITE": "500 unknown SITE command", "QUIT": "221 bye"}
        self.script.update(script or {})
        self.tls = tls
        self.received = []
        self.connections = 0
        self.closed = 0
        self.lock = threading.Lock()
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.open = []
        self.running = True
        threading.Thread(target=self._accept, daemon=True).start()

    def lines_for(self, verb):
        with self.lock:
            return [(n, line) for n, line in self.received if line.split(" ")[0].upper() == verb]

    def _accept(self):
        while self.running:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
                number = self.connections
                self.open.append(conn)
            threading.Thread(target=self._serve, args=(conn, number), daemon=True).start()

    def _send(self, conn, reply):
        if reply is None:
            return
        if isinstance(reply, str):
            reply = [reply]
        conn.sendall("".join(line + "\r\n" for line in reply).encode())

    def _serve(self, conn, number):
        conn.settimeout(120)
        # ABOR comes as urgent data, which must stay in the command stream.
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_OOBINLINE, 1)
        f = None
        try:
            greeting = self.script["GREETING"]
            self._send(conn, greeting(self, conn, "") if callable(greeting) else greeting)
            f = conn.makefile("rb")
            while True:
                raw = f.readline()
                if not raw:
                    return
                line = raw.decode(errors="replace").rstrip("\r\n")
                with self.lock:
                    self.received.append((number, line))
                verb, _, arg = line.partition(" ")
                verb = verb.upper()
                if verb == "AUTH" and self.tls and "AUTH" not in self.script:
                    self._send(conn, "234 go ahead")
                    f.close()
                    conn = self.tls.wrap_socket(conn, server_side=True)
                    f = conn.makefile("rb")
                    continue
                reply = self.script.get(verb, "502 not implemented")
                if callable(reply):
                    reply = reply(self, conn, arg)
                if reply == "CLOSE":
                    conn.close()
                    return
                if reply == "RESET":
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
                    conn.close()
                    return
                self._send(conn, reply)
        except (OSError, ValueError):
            return
        finally:
            try:
                conn.close()
            except OSError:
                pass
            with self.lock:
                self.closed += 1

    def stop(self):
        self.running = False
        self.sock.close()
        with self.lock:
            for c in self.open:
                try:
                    c.close()
                except OSError:
                    pass


def alias_line(directory, address, port, user="anonymous", password_hex="", remote="/",
               server_type="G", max_logins=0, share=0, local="\\site\\", encmode=0,
               timeout=600):
    return (f"{directory};{address};{port};{user};{password_hex};{remote};{server_type};"
            f"{max_logins};{share};{local};{encmode};{timeout}\n")


class RemoteCase(unittest.TestCase):
    """One orvex per test module. `prepare()` starts the peers and writes the site; helpers log
    in, walk the SITE REMOTE commands and read the site's files."""

    users = {}

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orvex-e2e-")
        cls.peers = []
        try:
            cls.site = OrvexSite(cls.tmp)
            cls.site.set_password("orvex", PASSWORD)
            cls.site.set_conf(default_homedir="./site/")
            for name, fields in cls.users.items():
                cls.add_user(name, **fields)
            cls.prepare()
            cls.server = cls.site.start()
            cls.port = cls.server.ready()
            cls.started()
        except BaseException:
            if getattr(cls, "server", None):
                cls.server.kill()
            cls.stop_peers()
            shutil.rmtree(cls.tmp, ignore_errors=True)
            raise

    @classmethod
    def prepare(cls):
        """Runs before the start: peers and site files."""

    @classmethod
    def started(cls):
        """Runs once the server listens."""

    @classmethod
    def stop_peers(cls):
        for p in cls.peers:
            p.stop()

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        cls.stop_peers()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def add_user(cls, name, password="pw", uid=300, flags=""):
        cls.site.write("etc/passwd",
                       cls.site.read("etc/passwd") + f"{name};;{uid};100;01-01-25;./site/\n")
        cls.site.set_password(name, password)
        cls.site.write(f"ftp-data/users/{name}", user_file(flags=flags))

    @classmethod
    def site_dir(cls, rel=""):
        """The internal form of a directory of the site tree."""
        path = os.path.join(cls.site.root, "site", rel)
        return path.replace("/", "\\").rstrip("\\") + "\\"

    @classmethod
    def write_aliases(cls, lines):
        cls.site.write("etc/remote.aliases",
                       "# Alias;Address;Port;Username;EncryptedPassword;RemotePath;ServerType;"
                       "MaxLogins;ShareUsers;LocalPath;EncryptionMode;Timeout\n#\n" +
                       "".join(lines))

    def raw(self, user="orvex", password=PASSWORD):
        client = RawClient(self.port, timeout=30)
        self.addCleanup(client.close)
        client.reply()
        self.assertEqual(client.cmd(f"USER {user}"), f"331 Password required for {user}.")
        client.send(f"PASS {password}\r\n")
        self.assertEqual(client.reply()[-1], f"230 User {user} logged in.")
        return client

    def ftp(self, user="orvex", password=PASSWORD, cls=ftplib.FTP, **kw):
        f = cls(timeout=30, **kw)
        f.connect("127.0.0.1", self.port)
        self.addCleanup(f.close)
        f.login(user, password)
        return f

    def site_cmd(self, client, line):
        """A SITE command's whole reply."""
        client.send(line + "\r\n")
        return client.reply()

    def add_alias(self, client, directory, port, user="anonymous", password="x", remote=""):
        line = f"SITE REMOTE ADDALIAS {{{directory}}} 127.0.0.1 {port} {user} {password}"
        if remote:
            line += f" {remote}"
        return client.cmd(line)

    def change(self, client, directory, field, value):
        return self.site_cmd(client, f"SITE REMOTE CHANGE {{{directory}}} {field} {value}")

    def connections(self, client, directory=""):
        """Rows of SITE REMOTE CONNECTIONS as (socket, holder) pairs."""
        lines = self.site_cmd(client, f"SITE REMOTE CONNECTIONS {directory}".rstrip())
        rows = []
        for line in lines:
            m = re.match(r"200- \| +(\d+)([SC]) \| +(-?\d+)/", line)
            if m:
                rows.append((int(m.group(1)), m.group(2), int(m.group(3))))
        return rows


def passive(client):
    """Sends PASV on a raw client and connects to the address it got."""
    reply = client.cmd("PASV")
    m = PASV_REPLY.match(reply)
    if not m:
        raise AssertionError(reply)
    n = [int(x) for x in m.groups()]
    return socket.create_connection((".".join(map(str, n[:4])), n[4] * 256 + n[5]), timeout=30)


def read_all(sock):
    data = b""
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return data
        data += chunk


def download(ftp, path):
    buf = io.BytesIO()
    reply = ftp.retrbinary(f"RETR {path}", buf.write)
    return reply, buf.getvalue()


def upload(ftp, path, data, cmd="STOR"):
    return ftp.storbinary(f"{cmd} {path}", io.BytesIO(data))


