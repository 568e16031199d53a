"""orvex's command line, the order in which it loads its site and the message of each fatal load
failure, and its work from its own folder."""

import os
import re
import shutil
import socket
import subprocess
import unittest

from harness import TempDirTestCase, binary
from orvex_support import OrvexCase, OrvexSite


class CommandLine(TempDirTestCase):
    def run_orvex(self, *args):
        # A copy alone in an empty folder: these options must not need a site.
        os.makedirs(os.path.join(self.tmp, "bin"))
        program = os.path.join(self.tmp, "bin", "orvex")
        shutil.copy2(binary("orvex"), program)
        done = subprocess.run([program, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=30)
        self.assertEqual(os.listdir(self.tmp), ["bin"])
        return done

    def test_version(self):
        done = self.run_orvex("-v")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stdout, b"Orvex 1.0.5_beta (1.0.8)\n")

    def test_unknown_option_has_no_line_end(self):
        done = self.run_orvex("-x")
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stdout, b"-x: Unknown option")
        # Only the first argument is looked at, and it must match exactly.
        self.assertEqual(self.run_orvex_again("-vv", "-v").stdout, b"-vv: Unknown option")

    def run_orvex_again(self, *args):
        program = os.path.join(self.tmp, "bin", "orvex")
        return subprocess.run([program, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=30)


FATAL = [
    ("etc/passwd", "ERROR: unable to load the password file."),
    ("etc/group", "ERROR: unable to load the group file."),
    ("etc/remote.aliases", "ERROR: unable to load the aliases file."),
    ("etc/links", "ERROR: unable to load the links file."),
    ("etc/remote.mirrors", "ERROR: unable to load the mirrors file."),
    ("fs/orvex.fs", "ERROR: unable to load the filesystem file."),
]


class LoadOrder(TempDirTestCase):
    def start_failing(self, site, message):
        server = site.start()
        code = server.wait(30)
        messages = server.messages()
        self.assertEqual(code, 1, messages)  # a failed start-up is no success
        self.assertIn(message, messages)
        # Standard input is no terminal: the failure does not wait for a key.
        self.assertEqual(messages[-1], "Press any key to continue...")
        if "Unable to start the server" not in message:
            self.assertNotIn("Starting server on port 0...", messages)
        return messages

    def test_each_missing_file_stops_the_start_in_order(self):
        site = OrvexSite(self.tmp)
        saved = {}
        for rel, _ in FATAL:
            saved[rel] = site.read(rel)
            site.remove(rel)
        # With every file missing the first in the order is reported; putting it back moves on
        # to the next one.
        for rel, message in FATAL:
            messages = self.start_failing(site, message)
            for _, other in FATAL:
                if other != message:
                    self.assertNotIn(other, messages)
            self.assertIn("Initializing Orvex version 1.0.5_beta (1.0.8).", messages)
            site.write(rel, saved[rel])
        server = site.start()
        self.addCleanup(server.kill)
        server.ready()
        self.assertEqual(server.stop(), 0)

    def test_the_warnings_of_the_missing_files(self):
        site = OrvexSite(self.tmp)
        site.remove("etc/links")
        messages = self.start_failing(site, "ERROR: unable to load the links file.")
        self.assertIn(f"WARNING: unable to access file {site.root}/etc/links.", messages)
        site.write("etc/links", "")
        site.remove("etc/remote.aliases")
        messages = self.start_failing(site, "ERROR: unable to load the aliases file.")
        self.assertIn(f"WARNING: unable to access alias file '{site.root}/etc/remote.aliases'.",
                      messages)

    def test_configuration_errors_are_fatal(self):
        site = OrvexSite(self.tmp)
        site.set_conf(rootpath=None)
        messages = self.start_failing(
            site, "ERROR: unable to load the site configuration file '../etc/orvex.conf'.")
        self.assertTrue(any(m.endswith("> ERROR: no rootpath specified.") for m in messages),
                        messages)
        self.assertNotIn("Initializing Orvex version 1.0.5_beta (1.0.8).", messages)
        site.remove("etc/orvex.conf")
        self.start_failing(
            site, "ERROR: unable to load the site configuration file '../etc/orvex.conf'.")

    def test_a_port_in_use_is_fatal(self):
        site = OrvexSite(self.tmp)
        with socket.socket() as busy:
            busy.bind(("0.0.0.0", 0))
            busy.listen()
            port = busy.getsockname()[1]
            site.set_conf(server_port=str(port))
            messages = self.start_failing(
                site, "ERROR: Unable to start the server (sd = -1): Address already in use.")
        self.assertIn(f"Starting server on port {port}...", messages)
        # An address the host does not have gives its own reason.
        site.set_conf(server_port="0", bind_ip="192.0.2.1")
        self.start_failing(
            site, "ERROR: Unable to start the server (sd = -1): Cannot assign requested address.")

    def test_the_shared_user_file_may_be_missing(self):
        site = OrvexSite(self.tmp)
        site.remove("etc/remote.passwd")
        server = site.start()
        self.addCleanup(server.kill)
        server.ready()
        self.assertTrue(any("remote.passwd" in m and m.startswith("WARNING: unable to access file")
                            for m in server.messages()), server.messages())
        self.assertEqual(server.stop(), 0)

    def test_missing_keys_only_warn(self):
        site = OrvexSite(self.tmp)
        site.set_conf(server_sslport="2")  # would need a key: stays closed
        server = site.start()
        self.addCleanup(server.kill)
        server.ready()
        server.wait_for(r"WARNING: unable to listen for SSL connections on port 2\.")
        self.assertIn("WARNING: unable to load SSL certificate and keys.", server.messages())
        self.assertEqual(server.stop(), 0)
        self.assertNotIn("SSL server stopped on port 2", server.messages())

    def test_start_up_messages_in_order(self):
        site = OrvexSite(self.tmp)
        site.make_keys()
        server = site.start()
        self.addCleanup(server.kill)
        port = server.ready()
        self.assertEqual(server.stop(), 0)
        m = server.messages()
        self.assertEqual(server.lines[0], 'Using debug mode.  Exit using "Ctrl-C".')
        order = ["Initializing Orvex version 1.0.5_beta (1.0.8).", "Starting server on port 0...",
                 f"Listening for FTP connections on port {port}.", f"Server stopped on port {port}",
                 "Synchronizing the Orvex filesystem.", "Done synchronizing the Orvex filesystem.",
                 "Server shutting down."]
        self.assertEqual([m.index(x) for x in order], sorted(m.index(x) for x in order))
        self.assertNotIn("WARNING: unable to load SSL certificate and keys.", m)


class ProgramFolder(OrvexCase):
    def test_site_is_found_from_any_working_directory(self):
        self.serve(cwd="/")
        client = self.login()
        self.assertEqual(client.cmd("PWD"), '257 "/" is current directory.')
        # The program log is in the site's data folder, not in the caller's directory.
        self.assertTrue(self.eventually(
            lambda: os.path.exists(self.site.path("ftp-data/logs/orvex.log"))))

    def test_unreadable_lines_are_reported_and_keep_their_defaults(self):
        self.site.set_conf(server_sslport="70000", max_users="5 5 5", bogus_key="1")
        self.serve()
        m = self.server.messages()
        for key in ("server_sslport", "max_users", "bogus_key"):
            self.assertTrue(any(re.fullmatch(rf"\.\./etc/orvex\.conf line \d+> Error reading "
                                             rf"'{key}' in file\.", x) for x in m), m)
        # The SSL port kept its default of none, and max_users its default of 0 0.
        self.assertFalse(any("SSL connections" in x for x in m), m)
        client = self.connect()
        client.reply()
        client.cmd("USER orvex")
        client.send(f"PASS {self.admin_password}\r\n")
        self.assertEqual(client.reply()[-1], "530 The site is full, try again later.")

    def test_bind_address_is_logged(self):
        self.site.set_conf(bind_ip="127.0.0.1")
        self.serve()
        self.assertIn("Starting server on 127.0.0.1:0...", self.server.messages())
        self.connect().reply()


if __name__ == "__main__":
    unittest.main()
