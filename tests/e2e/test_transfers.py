"""File transfers over passive and active data connections, with raw sockets, ftplib, curl and
lftp: byte-exact content, restart offsets, ASCII conversion, unique names, failures and aborts."""

import ftplib
import glob
import io
import os
import random
import re
import select
import socket
import struct
import time
import unittest

from transfer_support import (DataCase, SslFtp, active_listener, connect_data, final_code, have,
                              make_cert, pasv, recv_all, run)

PAYLOAD = bytes(range(256)) * 512 + random.Random(7).randbytes(300_001)


class ByteExactTransfers(DataCase):
    def test_ftplib_store_append_unique_retrieve_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                f = self.ftp(passive)
                name = "p.bin" if passive else "a.bin"
                self.assertTrue(f.storbinary(f"STOR {name}", io.BytesIO(PAYLOAD)).startswith("226"))
                self.assertEqual(self.read(name), PAYLOAD)
                f.storbinary(f"APPE {name}", io.BytesIO(b"tail"))
                self.assertEqual(self.read(name), PAYLOAD + b"tail")
                got = io.BytesIO()
                f.retrbinary(f"RETR {name}", got.write)
                self.assertEqual(got.getvalue(), PAYLOAD + b"tail")
                f.voidcmd("TYPE I")
                with f.transfercmd(f"STOU {name}") as conn:
                    conn.sendall(b"unique")
                self.assertTrue(f.voidresp().startswith("226"))
                self.assertEqual(self.read(name + ".1"), b"unique")
                lines = []
                f.retrlines("LIST", lines.append)
                self.assertTrue(any(l.endswith(" " + name) for l in lines), lines)
                f.quit()

    def test_raw_retr_reports_size_and_counts(self):
        self.write("f.bin", PAYLOAD)
        c = self.raw()
        self.assertEqual(c.cmd("TYPE I"), "200 Type is set to I.")
        addr = pasv(c)
        d = connect_data(addr)
        c.send("RETR f.bin\r\n")
        self.assertEqual(c.reply()[-1],
                         f"150 Opening BINARY mode data connection for f.bin ({len(PAYLOAD)} bytes).")
        self.assertEqual(recv_all(d), PAYLOAD)
        self.assertRegex(c.reply()[-1], rf"^226 \[Bytes: {len(PAYLOAD)}\]\[Time: \d+\.\d\d s\]"
                                         r"\[Speed: \d+\.\d\d K/s\]$")

    def test_two_retrs_through_one_passive_listener(self):
        self.write("one", b"first")
        self.write("two", b"second")
        c = self.raw()
        addr = pasv(c)
        for name, body in (("one", b"first"), ("two", b"second")):
            d = connect_data(addr)
            c.send(f"RETR {name}\r\n")
            self.assertEqual(final_code(c), "150")
            self.assertEqual(recv_all(d), body)
            self.assertEqual(final_code(c), "226")

    def test_stou_next_to_taken_names(self):
        self.write("a.txt", b"orig")
        self.write("a.txt.1", b"one")
        c = self.raw()
        addr = pasv(c)
        d = connect_data(addr)
        c.send("STOU a.txt\r\n")
        self.assertEqual(c.reply()[-1], "150 Opening ASCII mode data connection for a.txt.2.")
        d.sendall(b"new")
        d.close()
        self.assertEqual(final_code(c), "226")
        self.assertEqual((self.read("a.txt"), self.read("a.txt.1"), self.read("a.txt.2")),
                         (b"orig", b"one", b"new"))

    def test_restart_offsets(self):
        self.write("r.bin", PAYLOAD)
        c = self.raw()
        c.cmd("TYPE I")
        self.assertEqual(c.cmd("REST 100"),
                         "350 Restarting at 100.  Send STOR or RETR to initiate transfer.")
        d = connect_data(pasv(c))
        c.send("RETR r.bin\r\n")
        self.assertEqual(final_code(c), "150")
        self.assertEqual(recv_all(d), PAYLOAD[100:])
        self.assertEqual(final_code(c), "226")
        # The offset is used once: the next RETR starts at 0 again.
        d = connect_data(pasv(c))
        c.send("RETR r.bin\r\n")
        final_code(c)
        self.assertEqual(recv_all(d), PAYLOAD)
        final_code(c)
        # STOR after REST writes from the offset and keeps what lies beyond.
        for mode in ("I", "A"):  # the kernel-copy path and the block path
            c.cmd(f"TYPE {mode}")
            self.write("r.bin", b"0123456789")
            c.cmd("REST 3")
            d = connect_data(pasv(c))
            c.send("STOR r.bin\r\n")
            self.assertEqual(final_code(c), "150")
            d.sendall(b"ABC")
            d.close()
            self.assertEqual(final_code(c), "226")
            self.assertEqual(self.read("r.bin"), b"012ABC6789", mode)
        # At the very end it appends.
        c.cmd("REST 10")
        d = connect_data(pasv(c))
        c.send("STOR r.bin\r\n")
        self.assertEqual(final_code(c), "150")
        d.sendall(b"+")
        d.close()
        self.assertEqual(final_code(c), "226")
        self.assertEqual(self.read("r.bin"), b"012ABC6789+")
        # An offset beyond the file or below 0 is refused before any data moves, and used up.
        bad = "554 Requested action not taken: invalid REST parameter."
        for verb, offset in (("RETR", "12"), ("RETR", "-5"), ("STOR", "12"), ("STOR", "-1"),
                             ("STOR missing.bin", "1")):
            name = verb if " " in verb else f"{verb} r.bin"
            c.cmd(f"REST {offset}")
            d = connect_data(pasv(c))
            self.assertEqual(c.cmd(name), bad, (name, offset))
            d.close()
        self.assertEqual(self.read("r.bin"), b"012ABC6789+")
        self.assertFalse(os.path.exists(self.path("missing.bin")))
        d = connect_data(pasv(c))
        c.send("RETR r.bin\r\n")
        final_code(c)
        self.assertEqual(recv_all(d), b"012ABC6789+")
        self.assertEqual(final_code(c), "226")

    def test_ascii_conversion_across_blocks(self):
        data = bytearray(b"x" * 600_000)
        for i in range(50, len(data), 997):
            data[i] = 0x0A
        # CR at the end of a block, LF at the start of the next, for two plausible block sizes.
        for boundary in (4096, 262144):
            data[boundary - 1:boundary + 1] = b"\r\n"
        data[-1] = 0x0A
        data = bytes(data)
        self.write("t.txt", data)
        expected = re.sub(rb"(?<!\r)\n", b"\r\n", data)
        c = self.raw()
        self.assertEqual(c.cmd("TYPE A"), "200 Type is set to A.")
        d = connect_data(pasv(c))
        c.send("RETR t.txt\r\n")
        self.assertTrue(c.reply()[-1].startswith("150 Opening ASCII mode"))
        self.assertEqual(recv_all(d), expected)
        self.assertIn(f"[Bytes: {len(expected)}]", c.reply()[-1])
        # Upload in ASCII: lone LFs are stored as CR LF.
        d = connect_data(pasv(c))
        c.send("STOR up.txt\r\n")
        final_code(c)
        d.sendall(b"a\nb\r\nc\n")
        d.close()
        self.assertEqual(final_code(c), "226")
        self.assertEqual(self.read("up.txt"), b"a\r\nb\r\nc\r\n")

    def test_upload_arriving_in_small_pieces(self):
        expected = b"".join(bytes([65 + i]) * 37 for i in range(20))
        for mode in ("I", "A"):  # the kernel-copy path and the block path
            with self.subTest(mode=mode):
                c = self.raw()
                c.cmd(f"TYPE {mode}")
                d = connect_data(pasv(c))
                d.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                c.send("STOR slow.bin\r\n")
                self.assertEqual(final_code(c), "150")
                for i in range(20):
                    d.sendall(expected[i * 37:(i + 1) * 37])
                    time.sleep(0.02)
                d.close()
                self.assertIn("[Bytes: 740]", c.reply()[-1])
                self.assertEqual(self.read("slow.bin"), expected)


class DataConnectionFailures(DataCase):
    def test_failed_store_keeps_old_content(self):
        self.write("keep.txt", b"old content")
        c = self.raw()
        pasv(c)
        c.send("STOR keep.txt\r\n")  # the client never connects
        self.assertEqual(c.reply()[-1], "425 Can't open data connection")
        self.assertEqual(self.read("keep.txt"), b"old content")
        # Active mode to a port nobody listens on.
        ls = socket.socket()
        ls.bind(("127.0.0.1", 0))
        port = ls.getsockname()[1]
        ls.close()
        c.cmd("PORT 127,0,0,1,%d,%d" % (port >> 8, port & 255))
        c.send("STOR keep.txt\r\n")
        self.assertEqual(c.reply()[-1], "425 Can't open data connection")
        self.assertEqual(self.read("keep.txt"), b"old content")
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")

    def test_port_argument_checks(self):
        c = self.raw()
        for arg in ("127,0,0,1,256,1", "127,0,0,1,4", "127,0,0,1,4,1,5", "300,0,0,1,4,1",
                    "127,0,0,1,4,x", "127,,0,1,4,1"):
            with self.subTest(arg=arg):
                self.assertEqual(c.cmd(f"PORT {arg}"), "500 Invalid PORT command.")
        self.assertEqual(c.cmd("PORT"), "500 'PORT': Invalid number of parameters.")
        self.assertEqual(c.cmd("PORT x127,0,0,1,4,1"), "200 PORT command successful.")

    def test_missing_files_and_bad_names(self):
        os.mkdir(self.path("dir"))
        c = self.raw()
        self.assertEqual(c.cmd("RETR nope"), "550 nope: No such file or directory.")
        self.assertEqual(c.cmd("RETR dir"), "550 dir: Not a plain file.")
        self.assertEqual(c.cmd("STOR no/where"),
                         "550 no/where: The system cannot find the path specified.")
        for name in ("a:b", "q?x", "s*t", 'x"y', "p|q"):
            with self.subTest(name=name):
                # Refused for good: a 4xx would send clients into retrying for ever.
                self.assertEqual(c.cmd(f"STOR {name}"),
                                 f"553 {name}: The system cannot write to the file specified.")
                self.assertEqual(c.cmd(f"APPE {name}"),
                                 f"553 {name}: The system cannot write to the file specified.")
        self.assertEqual(c.cmd("STOU"), "500 'STOU': Invalid number of parameters.")
        self.assertEqual(c.cmd("APPE"), "500 'APPE': Invalid number of parameters.")
        self.assertEqual(os.listdir(self.root), ["dir"])

    def test_abort_during_stalled_download(self):
        self.write("big.bin", os.urandom(32 << 20))
        c = self.raw()
        c.cmd("TYPE I")
        d = connect_data(pasv(c))
        d.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        c.send("RETR big.bin\r\n")
        self.assertEqual(final_code(c), "150")
        d.recv(1000)  # then stop reading
        self.assertEqual(c.cmd("RETR big.bin"),
                         "550 Only 1 transfer per control connection is allowed.")
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")
        c.send("ABOR\r\n")
        codes = sorted([final_code(c), final_code(c)])
        self.assertEqual(codes, ["225", "426"])
        d.close()
        self.write("small", b"ok")
        d = connect_data(pasv(c))
        c.send("RETR small\r\n")
        final_code(c)
        self.assertEqual(recv_all(d), b"ok")
        self.assertEqual(final_code(c), "226")

    def test_abort_during_upload_and_quit_during_download(self):
        c = self.raw()
        d = connect_data(pasv(c))
        c.send("STOR part.bin\r\n")
        self.assertEqual(final_code(c), "150")
        d.sendall(b"z" * 5000)
        time.sleep(0.3)
        c.send("ABOR\r\n")
        self.assertEqual(sorted([final_code(c), final_code(c)]), ["225", "426"])
        d.close()
        self.write("big.bin", os.urandom(16 << 20))
        d = connect_data(pasv(c))
        c.send("RETR big.bin\r\n")
        self.assertEqual(final_code(c), "150")
        d.recv(1000)
        start = time.monotonic()
        c.send("QUIT\r\n")
        codes = [final_code(c)]
        if codes[0] != "221":
            codes.append(final_code(c))
        self.assertEqual(codes[-1], "221")
        self.assertLess(time.monotonic() - start, 9)
        d.close()

    def test_disconnect_during_transfers(self):
        self.write("big.bin", os.urandom(16 << 20))
        for verb in ("RETR", "STOR"):
            with self.subTest(verb=verb):
                c = self.raw()
                d = connect_data(pasv(c))
                c.send(f"{verb} big.bin\r\n")
                self.assertEqual(final_code(c), "150")
                if verb == "RETR":
                    d.recv(1000)
                else:
                    d.sendall(b"y" * 100000)
                c.close()
                time.sleep(0.2)
                d.close()
        # The server goes on serving.
        c = self.raw()
        self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")

    def test_pasv_replaced_while_a_job_waits(self):
        self.write("f", b"data")
        c = self.raw()
        addr = pasv(c)
        c.send("RETR f\r\n")
        # A new PASV while the job waits for its connection: the job keeps its own listener.
        addr2 = pasv(c)
        d = connect_data(addr)
        self.assertEqual(final_code(c), "150")
        self.assertEqual(recv_all(d), b"data")
        self.assertEqual(final_code(c), "226")
        d = connect_data(addr2)
        c.send("RETR f\r\n")
        final_code(c)
        self.assertEqual(recv_all(d), b"data")
        self.assertEqual(final_code(c), "226")


class BrokenAndWatchedTransfers(DataCase):
    @classmethod
    def extra_args(cls):
        cls.logs = os.path.join(cls.tmp, "logs")
        os.mkdir(cls.logs)
        return ["--log-dir", cls.logs, "--download-limit", "4000"]

    def test_upload_cut_by_a_reset_is_a_failure_and_keeps_its_data(self):
        data = os.urandom(300000)
        for mode in ("I", "A"):  # the kernel-copy path and the block path
            with self.subTest(mode=mode):
                c = self.raw()
                c.cmd(f"TYPE {mode}")
                d = connect_data(pasv(c))
                c.send("STOR cut.bin\r\n")
                self.assertEqual(final_code(c), "150")
                d.sendall(data)
                time.sleep(0.3)
                # A reset instead of a clean end: the count so far is not the whole file.
                d.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                d.close()
                self.assertEqual(c.reply()[-1], "426 Connection closed; transfer aborted.")
                stored = self.read("cut.bin")
                if mode == "I":
                    self.assertEqual(stored, data)
                else:
                    self.assertEqual(stored.replace(b"\r\n", b"\n"),
                                     data.replace(b"\r\n", b"\n"))
                self.assertEqual(c.cmd("NOOP"), "200 NOOP command successful.")

    def test_job_replies_log_the_user_who_started_it(self):
        self.write("slow.bin", os.urandom(8000))
        c = self.raw()
        c.cmd("TYPE I")
        d = connect_data(pasv(c))
        c.send("RETR slow.bin\r\n")
        self.assertEqual(final_code(c), "150")
        # Another user logs in on the same connection while the job still runs.
        self.assertEqual(c.cmd("USER other"), "331 Password required for other.")
        self.assertEqual(len(recv_all(d)), 8000)
        self.assertEqual(final_code(c), "226")
        # The access log is flushed by the first line written five seconds after the last flush.
        time.sleep(5.5)
        c.cmd("NOOP")
        lines = []
        for path in glob.glob(os.path.join(self.logs, "*_access.log")):
            with open(path, errors="replace") as f:
                lines.extend(f.read().splitlines())
        rows = [line.split(";") for line in lines]
        retr = [r[5] for r in rows if len(r) > 8 and r[6] == "RETR" and r[8] in ("150", "226")]
        self.assertEqual(retr, ["tester", "tester"], lines)


class ForeignDataPeers(DataCase):
    server_args = ("--refuse-fxp", "1")

    def test_passive_connection_from_other_address_refused(self):
        self.write("f", b"secret")
        c = self.raw()
        d = connect_data(pasv(c), source="127.0.0.2")
        c.send("RETR f\r\n")
        self.assertEqual(c.reply()[-1], "426 Can't open data connection")
        d.close()

    def test_port_to_other_host_never_connected(self):
        self.write("f", b"secret")
        c = self.raw()
        ls = active_listener(c, host="127.0.0.2")
        c.send("RETR f\r\n")
        self.assertEqual(c.reply()[-1], "426 Can't open data connection")
        self.assertEqual(select.select([ls], [], [], 1.0)[0], [])
        ls.close()


class SpeedLimits(DataCase):
    server_args = ("--download-limit", "2000", "--upload-limit", "2000")

    def test_site_limits_take_about_five_seconds(self):
        self.write("ten.bin", os.urandom(10000))
        c = self.raw()
        c.cmd("TYPE I")
        d = connect_data(pasv(c))
        c.send("RETR ten.bin\r\n")
        self.assertEqual(final_code(c), "150")
        start = time.monotonic()
        self.assertEqual(len(recv_all(d)), 10000)
        self.assertEqual(final_code(c), "226")
        self.assertTrue(3.5 <= time.monotonic() - start <= 9, time.monotonic() - start)
        d = connect_data(pasv(c))
        c.send("STOR up.bin\r\n")
        self.assertEqual(final_code(c), "150")
        start = time.monotonic()
        d.sendall(os.urandom(10000))
        d.close()
        self.assertIn("[Bytes: 10000]", c.reply()[-1])
        self.assertTrue(3.5 <= time.monotonic() - start <= 9, time.monotonic() - start)


@unittest.skipUnless(have("openssl"), "openssl is not installed")
class ProtectedTransfers(DataCase):
    @classmethod
    def extra_args(cls):
        return make_cert(cls.tmp)

    def tls_ftp(self, passive=True):
        f = SslFtp()
        f.connect("127.0.0.1", self.server.port, timeout=20)
        self.addCleanup(f.close)
        f.auth()
        f.login("tester", "secret")
        f.prot_p()
        f.set_pasv(passive)
        return f

    def test_ftplib_prot_p_both_modes(self):
        for passive in (True, False):
            with self.subTest(passive=passive):
                f = self.tls_ftp(passive)
                f.storbinary("STOR s.bin", io.BytesIO(PAYLOAD))
                f.storbinary("APPE s.bin", io.BytesIO(b"++"))
                self.assertEqual(self.read("s.bin"), PAYLOAD + b"++")
                got = io.BytesIO()
                f.retrbinary("RETR s.bin", got.write)
                self.assertEqual(got.getvalue(), PAYLOAD + b"++")
                f.voidcmd("TYPE I")
                with f.transfercmd("STOU s.bin") as conn:
                    conn.sendall(b"u")
                    conn.unwrap()
                f.voidresp()
                self.assertEqual(self.read("s.bin.1"), b"u")
                lines = []
                f.retrlines("LIST", lines.append)
                self.assertEqual(sorted(l.split()[-1] for l in lines), ["s.bin", "s.bin.1"])
                f.quit()
                os.remove(self.path("s.bin"))
                os.remove(self.path("s.bin.1"))

    def test_client_that_never_starts_tls_gets_427(self):
        self.write("f", b"x")
        f = self.tls_ftp()
        f.voidcmd("TYPE I")
        host, port = f.makepasv()
        d = connect_data((host, port))
        f.putcmd("RETR f")
        self.assertTrue(f.getresp().startswith("150"))
        start = time.monotonic()
        with self.assertRaises(ftplib.error_temp) as e:
            f.getresp()
        self.assertEqual(str(e.exception), "427 Unable to establish an encrypted data channel.")
        self.assertLess(time.monotonic() - start, 19)
        d.close()
        self.assertEqual(f.voidcmd("NOOP"), "200 NOOP command successful.")

    def test_abort_quit_and_disconnect_during_protected_transfers(self):
        self.write("big.bin", os.urandom(16 << 20))
        f = self.tls_ftp()
        f.voidcmd("TYPE I")
        conn = f.transfercmd("RETR big.bin")
        conn.recv(1000)  # then stop reading
        f.putcmd("ABOR")
        # getmultiline: a 426 would raise from getresp.
        self.assertEqual(sorted([f.getmultiline()[:3], f.getmultiline()[:3]]), ["225", "426"])
        conn.close()
        conn = f.transfercmd("STOR part.bin")
        conn.sendall(b"p" * 100000)
        f.putcmd("QUIT")
        # The upload QUIT stopped ends as a failure, then the session ends.
        last = f.getmultiline()
        if not last.startswith("221"):
            self.assertTrue(last.startswith("426 [Bytes: "), last)
            last = f.getmultiline()
        self.assertTrue(last.startswith("221"), last)
        conn.close()
        g = self.tls_ftp()
        g.voidcmd("TYPE I")
        conn = g.transfercmd("RETR big.bin")
        conn.recv(1000)
        g.sock.close()  # the control connection goes away mid-transfer
        conn.close()
        h = self.tls_ftp()
        self.assertEqual(h.voidcmd("NOOP"), "200 NOOP command successful.")

    @unittest.skipUnless(have("curl"), "curl is not installed")
    def test_curl_ssl_reqd(self):
        src = os.path.join(self.tmp, "src.bin")
        with open(src, "wb") as fh:
            fh.write(PAYLOAD)
        # Passive only: this curl sends active-mode data in clear despite --ssl-reqd (ftplib
        # and lftp cover active mode with protection).
        base = ["curl", "-sS", "--max-time", "60", "--ssl-reqd", "-k"]
        r = run([*base, "-T", src, self.url("c.bin")])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.read("c.bin"), PAYLOAD)
        r = run([*base, "--append", "-T", src, self.url("c.bin")])
        self.assertEqual(self.read("c.bin"), PAYLOAD * 2)
        r = run([*base, self.url("c.bin")])
        self.assertEqual((r.returncode, r.stdout), (0, PAYLOAD * 2), r.stderr)
        r = run([*base, "--list-only", self.url()])
        self.assertEqual(r.stdout.decode().split(), ["c.bin"])

    @unittest.skipUnless(have("lftp"), "lftp is not installed")
    def test_lftp_auth_ssl(self):
        src = os.path.join(self.tmp, "l.bin")
        with open(src, "wb") as fh:
            fh.write(PAYLOAD)
        out = os.path.join(self.tmp, "back.bin")
        for passive in ("on", "off"):
            with self.subTest(passive=passive):
                r = run(["lftp", "-c",
                         "set ftp:ssl-auth SSL; set ftp:ssl-force true; "
                         "set ftp:ssl-protect-data true; set ssl:verify-certificate no; "
                         f"set net:max-retries 1; set net:timeout 10; set ftp:passive-mode {passive}; "
                         f"open -u tester,secret ftp://127.0.0.1:{self.server.port}; "
                         f"put {src} -o l.bin; get l.bin -o {out}; cls -1"], cwd=self.tmp)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout.decode().split(), ["l.bin"])
                self.assertEqual(self.read("l.bin"), PAYLOAD)
                with open(out, "rb") as fh:
                    self.assertEqual(fh.read(), PAYLOAD)
                os.remove(out)
                os.remove(self.path("l.bin"))


@unittest.skipUnless(have("curl"), "curl is not installed")
class CurlTransfers(DataCase):
    def curl(self, *args):
        r = run(["curl", "-sS", "--max-time", "60", *args])
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def test_curl_passive_and_active(self):
        src = os.path.join(self.tmp, "src.bin")
        with open(src, "wb") as f:
            f.write(PAYLOAD)
        for mode in ([], ["-P", "127.0.0.1"]):
            with self.subTest(active=bool(mode)):
                self.curl(*mode, "-T", src, self.url("c.bin"))
                self.assertEqual(self.read("c.bin"), PAYLOAD)
                self.curl(*mode, "--append", "-T", src, self.url("c.bin"))
                self.assertEqual(self.read("c.bin"), PAYLOAD * 2)
                self.assertEqual(self.curl(*mode, self.url("c.bin")), PAYLOAD * 2)
                listing = self.curl(*mode, self.url()).decode()
                self.assertRegex(listing, r"(?m)^-rw-r--r-- +1 owner +group +%d .* c\.bin\r?$"
                                 % (2 * len(PAYLOAD)))
                os.remove(self.path("c.bin"))


@unittest.skipUnless(have("lftp"), "lftp is not installed")
class LftpTransfers(DataCase):
    def lftp(self, script, passive=True):
        r = run(["lftp", "-c",
                 "set ftp:ssl-allow no; set net:max-retries 1; set net:timeout 10; "
                 f"set ftp:passive-mode {'on' if passive else 'off'}; "
                 f"open -u tester,secret ftp://127.0.0.1:{self.server.port}; {script}"],
                cwd=self.tmp)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def test_lftp_put_get_list(self):
        src = os.path.join(self.tmp, "l.bin")
        with open(src, "wb") as f:
            f.write(PAYLOAD)
        for passive in (True, False):
            with self.subTest(passive=passive):
                out = os.path.join(self.tmp, "back.bin")
                self.lftp(f"put {src} -o l.bin; get l.bin -o {out}; ls", passive)
                self.assertEqual(self.read("l.bin"), PAYLOAD)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), PAYLOAD)
                listing = self.lftp("cls -1", passive)
                self.assertIn("l.bin", listing.decode())
                os.remove(out)
                os.remove(self.path("l.bin"))


if __name__ == "__main__":
    unittest.main()
