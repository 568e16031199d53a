"""The SITE layer of the main server: the dispatcher and its access checks, help files, custom
commands (TEXT, EXEC, IS) and the scripts that run before and after commands, the event-log
commands, the server commands (AUTHMODE, SHUTDOWN, GENKEYS, CERTINFO) and passwords kept out of
the logs."""

import fcntl
import ftplib
import os
import stat
import subprocess
import time

from site_admin_support import NO_ACCESS, SiteAdminCase

ECHO_SCRIPT = """#!/bin/sh
echo "argc=$#"
for a in "$@"; do echo "[$a]"; done
"""

# Records its arguments, one per line, in a file named after the script.
RECORDING = """#!/bin/sh
for a in "$@"; do echo "$a"; done > "$0.args"
"""

DAY = 86400


def stamp(seconds_ago):
    t = int(time.time()) - seconds_ago
    return time.strftime("%a %b %d %H:%M:%S %Y", time.localtime(t)) + f" [{t:<10}]"


class SiteDispatch(SiteAdminCase):
    users = {
        "plain": {}, "anon": {"flags": "8"}, "locked": {"flags": "3"}, "giver": {"flags": "G"},
        "taker": {"flags": "F"}, "idler": {"flags": "I"}, "remote": {"flags": "R"},
        "nuker": {"flags": "A"}, "lister": {"flags": "H"}, "editor": {"flags": "7"},
        "gadmin": {"flags": "2", "group": "staff"}, "nosite": {"permissions": "lvcpsdu"},
        "masked": {}, "shut": {},
    }
    groups = (("staff", "The staff", 150, 0),)

    @classmethod
    def prepare(cls):
        scripts = cls.site.path("scripts")
        os.makedirs(scripts)
        files = {
            "echo.sh": ECHO_SCRIPT,
            "allow.sh": RECORDING + 'echo "a plain line"\necho "200-Checked by script."\n'
                        'echo "230 Go ahead."\necho "200-never sent"\n',
            "refuse.sh": 'echo "550 Not shown today."\necho "200-never sent"\n',
            "refuse_cont.sh": 'echo "250-Looking..."\necho "550-Not now."\n',
            "wipe_check.sh": 'echo "checking wipe: $1"\necho "550 Wiping is disabled here."\n',
            "post.sh": RECORDING + 'echo "500 The post script cannot answer."\n',
            "rules.txt": "Rule one: be nice.\n//a comment line\nRule two: share.\n",
            "env.sh": "env | cut -d= -f1\n",
        }
        for name, text in files.items():
            path = os.path.join(scripts, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, 0o755)
        conf = [
            'site_cmd local ECHO EXEC /scripts/echo.sh "%u in %y" -R=%R -d=%d -Y=%Y -Z=%Z',
            "site_cmd local RULESTXT TEXT /scripts/rules.txt",
            "site_cmd local SYS IS SYSLOG",
            "site_cmd local SELF IS self",
            "site_cmd local LOOPA IS LOOPB",
            "site_cmd local LOOPB IS LOOPA",
            "site_cmd local ODD FOO /scripts/echo.sh",
            "site_cmd local NOPROG EXEC /scripts/missing",
            "site_cmd local SECRET IS PASSWD",
            "site_cmd local ENV EXEC /scripts/env.sh",
            "site_cmd local HIDDEN TEXT /scripts/rules.txt",
            "custom ECHO *", "custom RULESTXT *", "custom SYS *", "custom SELF *",
            "custom LOOPA *", "custom LOOPB *", "custom ODD *", "custom NOPROG *",
            "custom SECRET *", "custom ENV *",
            "cscript SITE[:space:]GROUPS pre /scripts/allow.sh",
            "cscript SITE[:space:]SHOW pre /scripts/refuse.sh",
            "cscript SITE[:space:]USERSYNC pre /scripts/refuse_cont.sh",
            "cscript SITE[:space:]WIPE pre /scripts/wipe_check.sh",
            "cscript SITE[:space:]PERMISSIONS pre /scripts/gone.sh",
            "cscript SITE[:space:]FLAGS post /scripts/post.sh",
        ]
        with open(cls.site.path("etc/orvex.conf"), "a") as f:
            f.write("\n".join(conf) + "\n")
        logs = {
            "login.log": [(20 * DAY, "alice: host (10.0.0.1): Login failure."),
                          (60, "alice: host (10.0.0.1): Bad host."),
                          (30, "bob: host (10.0.0.2): Deleted.")],
            "nuke.log": [(10 * DAY, "orvex: nuked /old by alice"),
                         (2 * DAY, "orvex: nuked /new by alice"),
                         (DAY, "orvex: nuked /other by bob"),
                         (None, "a line without a time stamp by alice")],
        }
        for name, entries in logs.items():
            lines = [text if ago is None else f"{stamp(ago)} {text}" for ago, text in entries]
            cls.site.write(f"ftp-data/logs/{name}", "\n".join(lines) + "\n")

    def test_dispatcher(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE"), ["500 'SITE': command not understood."])
        self.assertEqual(self.ask(c, "site help"), self.help_lines("site.help"))
        self.assertEqual(self.ask(c, "SITE HeLp ADDuser"), self.help_lines("site.adduser"))
        # Unknown names fall through to the custom commands.
        self.assertEqual(self.ask(c, "SITE NUKE {x} 2"), ["503 x: No such file or directory."])
        self.assertEqual(self.ask(c, "site bogus"), ["500 'site bogus': command not understood"])
        self.assertEqual(self.ask(c, "SITE REMOTE HELP"), self.help_lines("remote.help"))
        self.assertEqual(self.ask(c, "SITE REMOTE"), ["500 'SITE REMOTE': command not understood."])
        # Missing arguments send the command's help file.
        for command in ("ADDUSER", "ADDUSER bob", "GADDUSER g", "CHANGE", "GINFO", "DELIP x"):
            name = "site." + command.split()[0].lower()
            self.assertEqual(self.ask(c, "SITE " + command), self.help_lines(name), command)
        # Help topics never leave the help folder.
        for topic in ("../../etc/passwd", "..", "a/b", "site.help/x", "*"):
            self.assertEqual(self.ask(c, "SITE HELP " + topic),
                             ["451 Unable to get file information."], topic)
        self.assertEqual(self.ask(c, "SITE HELP nosuch"), ["451 Unable to get file information."])
        # Without the SITE permission letter nothing is reached.
        n = self.login("nosite")
        self.assertTrue(self.final(n, "SITE HELP").startswith("550 "))

    def test_access_for_every_default_expression(self):
        # (command, users admitted among those tried, users refused)
        cases = [
            ("ADDIP", ["gadmin", "editor"], ["plain", "giver"]),        # 1 2 7
            ("CHANGE plain", ["editor"], ["gadmin", "plain"]),          # 1 7
            ("GINFO staff", ["gadmin", "lister"], ["plain", "editor"]),  # 1 2 H
            ("GRPNFO staff", ["gadmin"], ["plain", "editor"]),          # 1 2
            ("SYSLOG", [], ["plain", "gadmin", "editor"]),              # 1
            ("GIVE plain 0", ["giver"], ["plain", "taker"]),            # 1 G
            ("TAKE plain 0", ["taker"], ["plain", "giver"]),            # 1 F
            ("IDLE 600", ["idler"], ["plain", "gadmin"]),               # 1 I
            ("USERDATA plain", ["remote"], ["plain", "editor"]),        # 1 R
            ("NUKELOG", ["nuker", "editor"], ["plain", "gadmin"]),      # 1 A B 7
            ("GROUP", ["plain"], ["locked"]),                           # !3 *
            ("HELP", ["plain", "locked"], ["anon"]),                    # !8 *
        ]
        clients = {}
        for command, admitted, refused in cases:
            for user in admitted + refused:
                if user not in clients:
                    clients[user] = self.login(user)
                reply = self.final(clients[user], "SITE " + command)
                if user in refused:
                    self.assertEqual(reply, NO_ACCESS, (command, user))
                else:
                    self.assertNotEqual(reply, NO_ACCESS, (command, user))
        # CERTINFO has no expression of its own: any user who may use SITE.
        self.assertEqual(self.final(clients["anon"], "SITE CERTINFO"), "200 Command Successful.")

    def test_custom_text_and_exec(self):
        c = self.login("plain")
        lines = self.ask(c, "SITE RULESTXT")
        self.assertEqual(lines, ["200- Rule one: be nice.", "200- Rule two: share.",
                                 "200 Command Successful."])
        # What the client types reaches the program as plain words, never through a shell.
        hostile = ["a;b", "$(touch", "PWNED)", "`touch", "PWNED2`", ">out", "'q'", '"dq"']
        lines = self.ask(c, "SITE ECHO " + " ".join(hostile))
        root = self.site.root
        expected = [f"argc={5 + len(hostile)}", "[plain in users]", f"[-R={root}/]",
                    f"[-d={root}/site/]", "[-Y=lvcpstduoamnrwx]", "[-Z=]"]
        expected += [f"[{word}]" for word in hostile]
        self.assertEqual(lines, [f"200- {line}" for line in expected] + ["200 Command Successful."])
        for dirpath, _, files in os.walk(root):
            for bad in ("PWNED", "PWNED)", "out", "PWNED2`"):
                self.assertNotIn(bad, files, dirpath)
        self.assertEqual(self.ask(c, "SITE NOPROG"), ["451 Unable to run command."])
        self.assertEqual(self.ask(c, "SITE ODD x"), ["502 ODD: Command has invalid mode."])
        # A custom command without a permission line is refused.
        self.assertEqual(self.ask(c, "SITE HIDDEN"), [NO_ACCESS])

    def test_custom_is(self):
        c = self.login("plain")
        # SYSLOG needs flag 1; the custom command admits everybody and its target's check passes.
        self.assertEqual(self.final(c, "SITE SYSLOG"), NO_ACCESS)
        self.assertEqual(self.final(c, "SITE SYS"), "200 Command Successful.")
        # The bypass ends with the custom command.
        self.assertEqual(self.final(c, "SITE SYSLOG"), NO_ACCESS)
        self.assertEqual(self.ask(c, "SITE SELF"), ["500 'SITE SELF': command not understood"])
        # Custom commands naming each other in a circle stop instead of overflowing the stack.
        self.assertEqual(self.ask(c, "SITE LOOPA"), ["550 Command failed."])
        self.assertEqual(self.final(c, "NOOP"), "200 NOOP command successful.")

    def test_pre_and_post_scripts(self):
        c = self.login("plain")
        # Informational lines and a 2xx line let the command run and answer for itself: they
        # are continuation lines of its reply, with its code.
        lines = self.ask(c, "SITE GROUPS ;rm $(x)")
        self.assertEqual(lines[:3], ["200-a plain line", "200-Checked by script.",
                                     "200-Go ahead."])
        self.assertEqual(lines[-1], "200 3 user groups")
        with open(self.site.path("scripts/allow.sh.args")) as f:
            self.assertEqual(f.read().splitlines(), [
                "SITE GROUPS ;rm $(x)", "plain", "users", self.site.root + "/site/"])
        # A final refusal line is the reply and the command does not run.
        self.assertEqual(self.ask(c, "SITE SHOW plain"), ["550 Not shown today."])
        # A refusal as a continuation line is closed by the server.
        self.assertEqual(self.ask(c, "SITE USERSYNC"),
                         ["550-Looking...", "550-Not now.", "550 Command failed."])
        # A plain line before the refusal: ftplib reads one 550 reply, and the next command
        # gets its own answer.
        f = ftplib.FTP()
        self.addCleanup(f.close)
        f.connect("127.0.0.1", self.port, timeout=20)
        f.login("plain", "pw")
        with self.assertRaises(ftplib.error_perm) as refused:
            f.sendcmd("SITE WIPE /copied")
        self.assertEqual(str(refused.exception).splitlines(),
                         ["550-checking wipe: SITE WIPE /copied", "550 Wiping is disabled here."])
        self.assertEqual(f.sendcmd("NOOP"), "200 NOOP command successful.")
        # A configured pre script that is missing refuses, and says so.
        self.assertEqual(self.ask(c, "SITE PERMISSIONS"), ["550 Command failed."])
        # A post script cannot change the reply.
        lines = self.ask(c, "SITE FLAGS")
        self.assertEqual(lines[0], "200- FLAGS for user plain ...")
        self.assertEqual(lines[-1], "200 Command successful.")
        args = self.site.path("scripts/post.sh.args")
        for _ in range(100):
            if os.path.exists(args):
                break
            time.sleep(0.1)
        with open(args) as f:
            self.assertEqual(f.read().splitlines()[:3], ["SITE FLAGS", "plain", "users"])
        self.assertEqual(self.final(c, "NOOP"), "200 NOOP command successful.")
        log = self.server_output()
        self.assertIn('Custom "pre" script (/scripts/refuse.sh) for "SITE SHOW" returned '
                      'error.', log)
        self.assertIn('Custom "pre" script (/scripts/gone.sh) for "SITE PERMISSIONS" returned '
                      'error.', log)

    def test_event_log_commands(self):
        c = self.login()
        lines = self.ask(c, "SITE NUKELOG 7 alice")
        self.assertEqual([l[5:].split("] ", 1)[-1] for l in lines[:-1]],
                         ["orvex: nuked /new by alice", "a line without a time stamp by alice"])
        self.assertEqual(lines[-1], "200 Command Successful.")
        lines = self.ask(c, "SITE NUKELOG alice")
        self.assertEqual(len(lines), 4)
        self.assertEqual(len(self.ask(c, "SITE NUKELOG")), 5)
        lines = self.ask(c, "SITE LOGINS 1 Bad host")
        self.assertEqual(len(lines), 2)
        self.assertTrue(lines[0].endswith("alice: host (10.0.0.1): Bad host."), lines)
        # Nothing requested yet: no log is an empty log.
        self.assertEqual(self.ask(c, "SITE REQLOG"), ["200 Command Successful."])
        self.final(c, "SITE TAGLINE logged")
        lines = self.ask(c, "SITE SYSLOG 1 changed tagline")
        self.assertTrue(lines[-2].endswith("] orvex: changed tagline to 'logged'"), lines)
        self.assertEqual(lines[-1], "200 Command Successful.")

    def test_failures_are_reported_and_nothing_is_left(self):
        # A user without flags is written in a form the server reads back without complaint.
        self.assertNotIn("Error reading 'FLAGS' in file.", self.server_output())
        c = self.login()
        # A day count beyond any date shows the whole log.
        for command in ("SITE LOGINS", "SITE NUKELOG"):
            whole = self.ask(c, command)
            self.assertGreater(len(whole), 2)
            self.assertEqual(self.ask(c, command + " 99999999999999999999"), whole)
        # What the requests file cannot hold, or other users' terminals should not get, is
        # refused.
        for title in ("title;with;semis", "evil\x1b[2Jtitle"):
            self.assertEqual(self.ask(c, f"SITE REQUEST {title}"),
                             ["501 Unable to add your request."])
        self.assertEqual(self.final(c, "SITE REQUEST plain title"),
                         "200 Your request has been added.")
        shown = [line for line in self.ask(c, "SITE REQUEST") if "<" in line]
        self.assertEqual(shown, ["200- <01> [orvex     ] plain title"])
        # Programs get a small environment of their own, not the server's.
        names = {line[5:] for line in self.ask(c, "SITE ENV")[:-1]}
        expected = {"PATH", "HOME", "SHELL", "LANG"} | ({"TZ"} if "TZ" in os.environ else set())
        self.assertEqual(names - {"PWD", "SHLVL", "_", "OLDPWD"}, expected)
        # A user file that cannot be written (another program holds its lock for longer than a
        # writer waits): GIVE and TAKE say so, change nothing and log nothing.
        credits, mark = self.user_field("plain", "CREDITS"), self.sysop_mark()
        with open(self.site.path("ftp-data/users/.plain.lock"), "a") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            self.assertEqual(self.ask(c, "SITE GIVE plain 5"),
                             ["505 Unable to transfer 5K to plain."])
            self.assertEqual(self.ask(c, "SITE TAKE plain 5"), ["504 Unable to take 5K from plain"])
        self.assertEqual(self.sysop_since(mark), [])
        self.assertEqual(self.user_field("plain", "CREDITS"), credits)
        self.assertEqual(self.final(c, "SITE GIVE plain 5"),
                         "200 Successfully transferred 5K to plain.")

    def test_server_commands(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE AUTHMODE"),
                         ["200 Authentication mode set to 0 (clear and SSL)."])
        self.assertEqual(self.ask(c, "SITE AUTHMODE 5"),
                         ["501 5: Invalid authentication mode (must be 0 or 1)"])
        self.assertEqual(self.ask(c, "SITE AUTHMODE 1"),
                         ["200 Authentication mode set to 1 (SSL only)."])
        fresh = self.connect()
        self.assertEqual(fresh.cmd("USER plain"), "501 Clear control connections are not allowed.")
        self.final(c, "SITE AUTHMODE 0")
        self.assertEqual(self.ask(c, "SITE SHUTDOWN 1"),
                         ["200 Shutdown level set to 1 (siteops only)."])
        self.assertEqual(self.login_reply("shut", "pw"),
                         "530 The server has been shut down, try again later.")
        self.assertEqual(self.ask(c, "SITE SHUTDOWN x"),
                         ["501 x: Invalid shutdown level (must be 0 or 1)"])
        self.assertEqual(self.ask(c, "SITE SHUTDOWN 0"), ["200 Shutdown level set to 0 (open)."])
        self.login("shut")

    def test_genkeys_and_certinfo(self):
        c = self.login()
        self.site.write("etc/cert.conf", "COUNTRY United Kingdom\nSTATE Some State\n"
                        "ORGANIZATION Orvex Test Site\nCOMMONNAME ftp.example.org\n")
        lines = self.ask(c, "SITE CERTINFO")
        self.assertEqual(lines[0], "200- +----------------[ Certificate Information ]"
                                   "-----------------+")
        self.assertEqual(lines[1], "200- | Country     : " + "Un".ljust(44) + " |")
        self.assertEqual(lines[4], "200- | Organization: " + "Orvex Test Site".ljust(44) + " |")
        self.assertEqual(lines[6], "200- | Common Name : " + "ftp.example.org".ljust(44) + " |")
        self.assertEqual(lines[-1], "200 Command Successful.")
        for _ in range(2):
            self.assertEqual(self.ask(c, "SITE GENKEYS"), [
                "200- Old certificate and keys were backed up.",
                "200 A new SSL certificate and keys was successfully created."])
        keys = sorted(os.listdir(self.site.path("keys")))
        for name in ("cert.pem", "privkey.pem", "pubkey.pem"):
            self.assertIn(name, keys)
            self.assertIn(name + ".bak", keys)
        subject = subprocess.run(
            ["openssl", "x509", "-noout", "-subject", "-in", self.site.path("keys/cert.pem")],
            capture_output=True, text=True, timeout=30).stdout
        self.assertIn("ftp.example.org", subject)
        self.assertIn("Orvex Test Site", subject)
        self.site.remove("etc/cert.conf")
        self.assertEqual(self.ask(c, "SITE GENKEYS"),
                         ["501 Unable to load the certificate configuration file."])

    def test_passwords_stay_out_of_the_logs(self):
        c = self.login()
        secrets = ["S3cretOne", "S3cretTwo", "S3cretThree", "S3cretFour"]
        self.final(c, f"SITE CHPASS masked {secrets[0]}")
        self.final(c, f"SITE ADDUSER hidden1 {secrets[1]} 127.0.0.1")
        self.final(c, f"SITE GADDUSER staff hidden2 {secrets[2]}")
        m = self.login("masked", secrets[0])
        self.assertEqual(self.final(m, f"SITE PASSWD {secrets[3]}"),
                         "200 Password successfully changed for user 'masked'.")
        self.assertEqual(self.final(m, "SITE SECRET NewSecret9"),
                         "200 Password successfully changed for user 'masked'.")
        self.final(m, "NOOP")
        output = self.server_output()
        self.assertIn("CHPASS masked", output)
        self.assertIn("ADDUSER hidden1", output)
        for secret in secrets + ["NewSecret9"]:
            self.assertNotIn(secret, output)
            self.assertNotIn(secret, self.access_log())

    def server_output(self):
        time.sleep(0.3)
        return "\n".join(self.server.lines)
