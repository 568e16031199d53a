"""Messages and requests against a running orvex: SITE MSG to one user, a braced list, a mask and
a group, READ, TREAD, SAVE and PURGE with the files behind them, the INBOX notice, and the
request list with REQUEST and REQFILLED."""

import os
import re

from site_admin_support import NO_ACCESS, SiteAdminCase

FROM = re.compile(r"^200- From: (\w+) \(\w{3} \w{3} \d{2} \d{2}:\d{2}:\d{2} \d{4}\)$")
RULE = "200- " + "-" * 74
REQUESTS_HEAD = "200- .-=--------------------------== REQUESTS ==---------------------------=-."
REQUESTS_TAIL = ["200- `-=-------------------------------------------------------------------=-'",
                 "200-       `-----( Type 'site request title' to make a request )-----'",
                 "200 Command Successful."]


def file_lines(text):
    """A text file as the server sends it: 254-character pieces, each after one space."""
    out = []
    for line in text.split("\n")[:-1] if text.endswith("\n") else text.split("\n"):
        pieces = [line[i:i + 254] for i in range(0, max(len(line), 1), 254)]
        out += ["200- " + p for p in pieces if not p.startswith("//")]
    return out


class SiteMessages(SiteAdminCase):
    users = {"alice": {}, "bob": {}, "carol": {"group": "crew"}, "dave": {"group": "crew"},
             "op": {"flags": "1"}}
    groups = (("crew", "The crew", 150, 0),)

    def msgs(self, name):
        path = self.site.path(f"ftp-data/msgs/{name}")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def login_lines(self, user):
        client = self.connect()
        client.cmd(f"USER {user}")
        client.send("PASS pw\r\n")
        return client, client.reply()

    def test_messages(self):
        a = self.login("alice")
        self.assertEqual(self.ask(a, "SITE MSG"), self.help_lines("site.msg"))
        self.assertEqual(self.ask(a, "SITE MSG bob"), ["501 Error: no message specified."])
        self.assertEqual(self.ask(a, "SITE MSG bob later"),
                         ["200- Message sent successfully to bob.", "200 Done"])
        # Any spelling of the name reaches the one inbox.
        long_text = "x" * 300
        self.assertEqual(self.ask(a, "SITE MSG BOB " + long_text),
                         ["200- Message sent successfully to BOB.", "200 Done"])
        self.assertFalse(os.path.exists(self.site.path("ftp-data/msgs/BOB")))
        before = set(os.listdir(self.site.path("ftp-data/msgs")))
        for name in ("ghost", "../../etc/x", "..", "a/b"):
            self.assertEqual(self.ask(a, f"SITE MSG {name} hi"),
                             [f"200- User '{name}' does not exist.", "200 Done"])
        self.assertEqual(set(os.listdir(self.site.path("ftp-data/msgs"))), before)
        self.assertFalse(os.path.exists(self.site.path("etc/x")))
        self.assertEqual(self.ask(a, "SITE MSG { bob carol ghost } see you"),
                         ["200- Successfully sent message to bob",
                          "200- Successfully sent message to carol",
                          "200- Error sending message to ghost.", "200 Done"])
        self.assertEqual(self.ask(a, "SITE MSG { bob carol see you"),
                         ["503 } not found in list of usernames."])
        self.assertEqual(self.ask(a, "SITE MSG { bob }"),
                         ["200- Error sending message to bob.", "200 Done"])
        self.assertEqual(self.ask(a, "SITE MSG * hello all"), [NO_ACCESS])
        self.assertEqual(self.ask(a, "SITE MSG =crew hello crew"), [NO_ACCESS])
        self.assertEqual(self.ask(a, "SITE MSG unread"), ["501 Error: no message specified."])

        o = self.login("op")
        self.assertEqual(self.ask(o, "SITE MSG =CREW meeting at noon"),
                         ["200- Message sent to 2 users.", "200 Done"])
        users = [n for n in os.listdir(self.site.path("ftp-data/users")) if "." not in n]
        self.assertEqual(self.ask(o, "SITE MSG * site news"),
                         [f"200- Message sent to {len(users)} users.", "200 Done"])
        self.assertEqual(self.ask(o, "SITE MSG d* only dave"),
                         ["200- Message sent to 1 users.", "200 Done"])
        dave = self.msgs("dave").decode()
        self.assertEqual([line for line in dave.split("\n") if line and "-" * 74 != line
                          and not line.startswith("From: op (")],
                         ["meeting at noon", "site news", "only dave"])

        # The notice at login, then reading moves the inbox to the trash byte for byte.
        inbox = self.msgs("bob")
        b, lines = self.login_lines("bob")
        self.assertIn("230- You have messages in INBOX. Type SITE MSG READ to read them.", lines)
        self.assertEqual(lines[-1], "230 User bob logged in.")
        shown = self.ask(b, "SITE MSG READ")
        self.assertEqual(shown, file_lines(inbox.decode()) + [
            "200- ", "200 Messages moved to TRASH.  Type SITE MSG SAVE to keep them."])
        self.assertEqual([FROM.match(line).group(1) for line in shown if FROM.match(line)],
                         ["alice", "alice", "alice", "op"])
        self.assertIn(RULE, shown)
        self.assertIn("200- " + "x" * 254, shown)
        self.assertIsNone(self.msgs("bob"))
        self.assertEqual(self.msgs("bob.purge"), inbox)
        none = ["200 You do not have any messages waiting to be read."]
        self.assertEqual(self.ask(b, "SITE MSG READ"), none)
        self.assertEqual(self.ask(b, "CWD /"), ["250 CWD command successful."])
        _, again = self.login_lines("bob")
        self.assertNotIn("230- You have messages in INBOX. Type SITE MSG READ to read them.", again)
        self.assertEqual(self.ask(b, "SITE MSG tread"), file_lines(inbox.decode()) + [
            "200- ", "200 Type SITE MSG PURGE to delete these messages now."])
        self.assertEqual(self.ask(b, "SITE MSG SAVE"),
                         ["200 Your messages have been moved to the INBOX."])
        self.assertEqual(self.msgs("bob"), inbox)
        self.assertIsNone(self.msgs("bob.purge"))
        self.assertEqual(self.ask(b, "SITE MSG SAVE"), ["200 Your TRASH is empty."])
        self.assertEqual(self.ask(b, "CWD /"), [
            "250- You have messages in INBOX. Type SITE MSG READ to read them.",
            "250 CWD command successful."])
        self.assertIn("Messages Waiting: Y", self.ask(o, "SITE USER bob")[11])
        self.ask(b, "SITE MSG READ")
        self.assertIn("Messages Waiting: N", self.ask(o, "SITE USER bob")[11])
        self.assertEqual(self.ask(b, "SITE MSG PURGE"), ["200 Your TRASH has been emptied."])
        self.assertEqual(self.ask(b, "SITE MSG TREAD"), none)
        self.assertIsNone(self.msgs("bob.purge"))

    def test_requests(self):
        path = self.site.path("ftp-data/misc/requests")
        a = self.login("alice")
        self.assertEqual(self.ask(a, "SITE REQUEST"), [REQUESTS_HEAD] + REQUESTS_TAIL)
        added = ["200 Your request has been added."]
        self.assertEqual(self.ask(a, "SITE REQUEST Some   Movie 2024"), added)
        self.assertEqual(self.ask(self.login("bob"), "SITE REQUEST second one"), added)
        # The file's field separator cannot be part of a title.
        carol = self.login("carol")
        self.assertEqual(self.ask(carol, "SITE REQUEST third;part two"),
                         ["501 Unable to add your request."])
        self.assertEqual(self.ask(carol, "SITE REQUEST third"), added)
        self.assertEqual(self.ask(a, "SITE REQUEST"), [
            REQUESTS_HEAD, "200- <01> [alice     ] Some Movie 2024",
            "200- <02> [bob       ] second one", "200- <03> [carol     ] third"] + REQUESTS_TAIL)
        lines = self.site.read("ftp-data/misc/requests").splitlines()
        self.assertEqual([re.sub(r";\d+;", ";T;", line) for line in lines],
                         ["alice;T;Some Movie 2024", "bob;T;second one", "carol;T;third"])

        o = self.login("op")
        self.assertEqual(self.ask(o, "SITE REQFILLED"), self.help_lines("site.reqfilled"))
        for number in ("0", "4", "-1", "abc"):
            self.assertEqual(self.ask(o, "SITE REQFILLED " + number), ["501 Invalid Request."])
        self.assertEqual(self.ask(o, "SITE REQFILLED 2"),
                         ["200- Request Found. Notifying bob",
                          "200 Thank You For Filling The Request."])
        log = self.event_log("request.log")
        self.assertEqual(log[-1], "op filled: second one, requested by bob")
        note = self.msgs("bob").decode().split("\n")
        self.assertEqual(note[-2], "Your request was filled by op: second one")
        self.assertEqual(self.ask(a, "SITE REQUEST"), [
            REQUESTS_HEAD, "200- <01> [alice     ] Some Movie 2024",
            "200- <02> [carol     ] third"] + REQUESTS_TAIL)
        # The rewrite keeps every other request, with the title as it reads.
        self.assertEqual([re.sub(r";\d+;", ";T;", line) for line in self.site.read("ftp-data/misc/requests").splitlines()],
                         ["alice;T;Some Movie 2024", "carol;T;third"])
        self.assertEqual(self.ask(o, "SITE REQFILLED 2")[-1],
                         "200 Thank You For Filling The Request.")
        self.assertEqual(self.ask(o, "SITE REQFILLED 1")[0], "200- Request Found. Notifying alice")
        self.assertEqual(self.site.read("ftp-data/misc/requests"), "")
        self.assertEqual(self.ask(o, "SITE REQFILLED 1"), ["501 Invalid Request."])
        os.remove(path)
        self.assertEqual(self.ask(o, "SITE REQFILLED 1"), ["503 Unable to access requests."])
        self.assertEqual(self.event_log("request.log")[-3:], [
            "op filled: second one, requested by bob", "op filled: third, requested by carol",
            "op filled: Some Movie 2024, requested by alice"])
