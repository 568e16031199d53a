"""The account SITE commands against a running orvex: every reply text, the sysop-log lines and
what reaches the user and passwd files, with the group-administrator rules and slots."""

import os

from orvex_support import user_file
from site_admin_support import NO_ACCESS, SiteAdminCase


class SiteAccounts(SiteAdminCase):
    users = {
        "boss": {"flags": "2", "group": "staff", "slots": "1 1", "gid": 150},
        "leechboss": {"flags": "2", "group": "staff", "slots": "0 1", "gid": 150},
        "nolinks": {"flags": "2", "group": "band", "slots": "0 -1"},
        "member": {"group": "staff", "ratio": 3, "gid": 150},
        "member2": {"group": "staff", "ratio": 3, "gid": 150},
        "bandmember": {"group": "band", "ratio": 3},
        "outsider": {},
        "editor": {"flags": "7"},
        "cuser": {"flags": "8"},
        "crew1": {"group": "crew"}, "crew2": {"group": "crew"},
        "victim": {}, "tmpa": {}, "tmpb": {},
        "oldname": {"password": "OldPw1"}, "taken": {},
        "poor": {"flags": "G", "credits": 50}, "cash": {"credits": 100},
        "idle1": {"flags": "I"}, "ipuser": {}, "pwuser": {}, "rat": {"ratio": 3},
        "gcrew": {"flags": "2", "group": "gang", "slots": "5 5", "gid": 161},
        "lonely": {"flags": "2", "group": ""}, "nogroup": {"group": ""}, "ued": {"flags": "7"},
        "peer": {"flags": "R"}, "op2": {"flags": "1", "group": "siteops", "gid": 101},
    }
    groups = (("staff", "The staff", 150, 0), ("crew", "The crew", 151, 0),
              ("band", "The band", 152, 0), ("ops", "Operators", 160, 0),
              ("gang", "The gang", 161, 0))

    @classmethod
    def prepare(cls):
        # A group template that makes operators: only an operator may use it to.
        cls.site.write("ftp-data/users/default.ops", user_file(flags="17", group="ops"))

    def test_adduser_and_gadduser(self):
        c = self.login()
        mark = self.sysop_mark()
        replies = [
            ("SITE ADDUSER abcdefghijklmnopq pw", "501 Username cannot exceed 16 characters."),
            ("SITE ADDUSER 9lives pw", "502 Username must start with a letter and only contain "
                                       "[A-Z,a-z,0-9,'-','_']."),
            ("SITE ADDUSER SYSTEM pw", "503 'SYSTEM' is not an allowed username."),
            ("SITE ADDUSER newbie 12345678901234567",
             "504 Password cannot exceed 16 characters."),
            ("SITE ADDUSER newbie N3wPass 10.1.1.* 127.0.0.1",
             "200 User (newbie) successfully added."),
            ("SITE ADDUSER NEWBIE x", "508 User NEWBIE already exists."),
            ("SITE GADDUSER nogroup fresh pw", "507 Group (nogroup) does not exists."),
            ("SITE GADDUSER STAFF fresh pw", "200 User (fresh) successfully added to group staff."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        self.assertEqual(self.user_ips("newbie"), ["10.1.1.*", "127.0.0.1"])
        self.assertEqual(self.user_field("newbie", "USER"), "Added by orvex")
        self.assertEqual(self.passwd_entry("newbie")[3:4] + self.passwd_entry("newbie")[5:],
                         ["100", "./site/"])
        self.assertEqual(self.user_field("fresh", "GROUP"), "staff")
        self.assertEqual(self.passwd_entry("fresh")[3], "150")
        # Both log in at once.
        self.login("newbie", "N3wPass")
        self.login("fresh", "pw")
        self.assertEqual(self.sysop_since(mark), [
            "orvex: added user 'newbie'.", "orvex: added user 'fresh' to group 'staff'."])

    def test_group_administrator_and_user_slots(self):
        b = self.login("boss")
        self.assertEqual(self.ask(b, "SITE ADDUSER recruit1 pw"),
                         ["200 User (recruit1) successfully added to group staff."])
        self.assertEqual(self.user_field("boss", "SLOTS"), "0 1")
        self.assertEqual(self.passwd_entry("recruit1")[3], "150")
        self.assertEqual(self.ask(b, "SITE ADDUSER recruit2 pw"),
                         ["505 Sorry, no more open slots available."])
        self.assertIsNone(self.passwd_entry("recruit2"))
        not_ours = "Invalid Access. User is not in group (staff)."
        self.assertEqual(self.ask(b, "SITE ADDIP outsider 1.2.3.4"), ["502 " + not_ours])
        self.assertEqual(self.ask(b, "SITE CHPASS outsider x"), ["503 " + not_ours])
        self.assertEqual(self.ask(b, "SITE DELUSER outsider"), ["503 " + not_ours])
        # Deleting gives the slot back, re-adding takes it again.
        self.assertEqual(self.ask(b, "SITE DELUSER recruit1"), ["200 User (recruit1) deleted."])
        self.assertEqual(self.user_field("boss", "SLOTS"), "1 1")
        lines = self.ask(b, "SITE READD")
        self.assertIn("200- recruit1", [line.rstrip() for line in lines])
        self.assertEqual(self.ask(b, "SITE READD recruit1"), ["200 User (recruit1) readded."])
        self.assertEqual(self.user_field("boss", "SLOTS"), "0 1")
        self.ask(b, "SITE DELUSER recruit1")
        self.ask(b, "SITE ADDUSER recruit3 pw")
        self.assertEqual(self.ask(b, "SITE READD recruit1"),
                         ["504 Sorry, no more open slots available."])

    def test_group_administrator_and_leech_slots(self):
        b = self.login("leechboss")
        ok = ["200 Command Successful."]
        self.assertEqual(self.ask(b, "SITE RATIO member 5"),
                         ["507 Error: you can only change ratio to 0 or 3."])
        self.assertEqual(self.ask(b, "SITE RATIO member 0"), ok)
        self.assertEqual(self.user_field("leechboss", "SLOTS"), "0 0")
        # Setting what is already set moves no slot.
        self.assertEqual(self.ask(b, "SITE RATIO member 0"), ok)
        self.assertEqual(self.ask(b, "SITE RATIO member2 0"),
                         ["505 Error: you can't add any more leech accounts."])
        self.assertEqual(self.user_field("member2", "RATIO"), "3")
        self.assertEqual(self.ask(b, "SITE RATIO member 3"), ok)
        self.assertEqual(self.user_field("leechboss", "SLOTS"), "0 1")
        for _ in range(3):
            self.assertEqual(self.ask(b, "SITE RATIO member 3"), ok)
        self.assertEqual(self.user_field("leechboss", "SLOTS"), "0 1")
        self.assertEqual(self.ask(b, "SITE RATIO bandmember 0"),
                         ["502 Invalid Access. User is not in group (staff)."])
        n = self.login("nolinks")
        self.assertEqual(self.ask(n, "SITE RATIO bandmember 0"),
                         ["504 Error: Your leech slots setting is not enabled."])

    def test_deluser_readd_purge(self):
        c = self.login()
        mark = self.sysop_mark()
        v = self.login("victim")
        self.assertEqual(self.ask(c, "SITE DELUSER orvex"), ["501 Cannot delete the current user."])
        self.assertEqual(self.ask(c, "SITE DELUSER ghost"), ["502 User 'ghost' does not exist."])
        self.assertEqual(self.ask(c, "SITE DELUSER victim"), ["200 User (victim) deleted."])
        self.assertTrue(self.ended(v))
        self.assertIn("6", self.user_field("victim", "FLAGS"))
        self.assertEqual(self.login_reply("victim", "pw"), "530 You have been deleted.")
        lines = self.ask(c, "SITE READD")
        with open(self.site.path("ftp-data/help/site.readd.top")) as f:
            top = ["200- " + line for line in f.read().splitlines()]
        self.assertEqual(lines[:len(top)], top)
        self.assertIn("200- victim", [line.rstrip() for line in lines])
        self.assertEqual(lines[-1], "200 Command Successful.")
        self.assertEqual(self.ask(c, "SITE READD ghost"), ["503 User ghost has not been deleted."])
        self.assertEqual(self.ask(c, "SITE READD outsider"),
                         ["503 User outsider has not been deleted."])
        self.assertEqual(self.ask(c, "SITE READD victim"), ["200 User (victim) readded."])
        self.login("victim")
        self.ask(c, "SITE DELUSER victim")
        self.assertEqual(self.ask(c, "SITE PURGE victim"), [
            "200- User (victim) purged.", "200 Command successful.  (1 Users Purged)"])
        self.assertFalse(os.path.exists(self.site.path("ftp-data/users/victim")))
        self.assertIsNone(self.passwd_entry("victim"))
        self.assertEqual(self.login_reply("victim", "pw"), "530 User victim cannot login.")
        self.assertEqual(self.sysop_since(mark), [
            "orvex: deleted user 'victim'.", "orvex: readded 'victim'.",
            "orvex: deleted user 'victim'.", "orvex: purged 'victim'."])

    def test_deluser_and_readd_with_patterns(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE DELUSER tmp*"), ["200 Deleted 2 users."])
        self.assertEqual(self.ask(c, "SITE DELUSER tmp*"), ["200 Deleted 0 users."])
        self.assertEqual(self.ask(c, "SITE READD TMP*"), ["200 Readded 2 users."])
        self.ask(c, "SITE DELUSER tmpa")
        self.assertEqual(self.ask(c, "SITE PURGE tmp*"), [
            "200- User (tmpa) purged.", "200 Command successful.  (1 Users Purged)"])
        self.assertTrue(os.path.exists(self.site.path("ftp-data/users/tmpb")))

    def test_renuser(self):
        c = self.login()
        replies = [
            ("SITE RENUSER oldname", "501 Missing new user name."),
            ("SITE RENUSER ORVEX x", "502 Cannot rename the current user."),
            ("SITE RENUSER oldname abcdefghijklmnopq",
             "503 User name length must not exceed 16 characters."),
            ("SITE RENUSER oldname 1x", "504 User name must start with a letter and only contain "
                                        "[A-Z,a-z,0-9,'-','_']."),
            ("SITE RENUSER oldname system", "504 'system' is not an allowed username."),
            ("SITE RENUSER nobody newname", "506 User (nobody) does not exists."),
            ("SITE RENUSER oldname taken", "505 User (taken) exists."),
            ("SITE RENUSER oldname newname", "200 User (oldname) successfully renamed to "
                                             "(newname)."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        self.assertTrue(os.path.exists(self.site.path("ftp-data/users/newname")))
        self.assertFalse(os.path.exists(self.site.path("ftp-data/users/oldname")))
        self.assertIsNone(self.passwd_entry("oldname"))
        self.assertEqual(self.passwd_entry("newname")[0], "newname")
        # The stored password is keyed by the name: a renamed account gets a new password.
        self.ask(c, "SITE CHPASS newname NewPw1")
        self.login("newname", "NewPw1")
        self.assertIn("orvex: renamed user 'oldname' to 'newname'", self.event_log())

    def test_change_one_field_of_one_user(self):
        c = self.login()
        root = self.site.root
        # (field and value, reply lines, (keyword, word index or None, expected value))
        cases = [
            ("comment New comment here", [" Comment successfully changed."],
             ("USER", None, "New comment here")),
            ("credits 2048", [" Credits successfully changed."], ("CREDITS", None, "2048")),
            ("credits 99999999999", [" Invalid number of credits."], ("CREDITS", None, "2048")),
            ("credits x", [" Invalid number of credits."], ("CREDITS", None, "2048")),
            ("FLAGS +1-8", [" Flags successfully changed."], ("FLAGS", None, "1")),
            ("flags 8", [" Error: you need to use + or - in front of flags."],
             ("FLAGS", None, "1")),
            ("permissions -wd+z", [" Permissions successfully changed."],
             ("PERMISSIONS", None, "lvcpstuoamnrxz")),
            ("permissions x", [" Error: you need to use + or - in front of permissions."], None),
            ("group_slots 5 x", [" Invalid number of leach slots.",
                                 " Group slots successfully changed."], ("SLOTS", None, "5 0")),
            ("group_slots 3 -1", [" Group slots successfully changed."], ("SLOTS", None, "3 -1")),
            ("group_slots q", [" Invalid number of user slots."], ("SLOTS", None, "3 -1")),
            ("idle 120", [" Maximum IDLE time set to 120 seconds."], ("USET", None, "120")),
            ("idle -5", [" Invalid idle time."], ("USET", None, "120")),
            ("ratio 7", [" Ratio successfully changed."], ("RATIO", None, "7")),
            ("ratio 10", [" Ratio out of range (range is 0 to 9)."], ("RATIO", None, "7")),
            ("max_dlspeed 100", [" Max download speed successfully changed."],
             ("GENERAL", 2, "102400")),
            ("max_dlspeed 3000000", [" Invalid max download speed."], ("GENERAL", 2, "102400")),
            ("max_ulspeed 50", [" Max upload speed successfully changed."],
             ("GENERAL", 3, "51200")),
            ("max_ulspeed -1", [" Invalid max upload speed."], ("GENERAL", 3, "51200")),
            ("max_sim_down 2", [" Max simultaneous downloads successfully changed."],
             ("LOGINS", 2, "2")),
            ("max_sim_up x", [" Invalid max simultaneous uploads."], ("LOGINS", 3, "-1")),
            ("max_sim_up 3", [" Max simultaneous uploads successfully changed."],
             ("LOGINS", 3, "3")),
            ("num_logins 4 2", [" Number of logins successfully changed."], ("LOGINS", 1, "2")),
            ("num_logins 6 x", [" Invalid number of login from the same IP.",
                                " Number of logins successfully changed."], ("GENERAL", 1, "6")),
            ("num_logins -1", [" Invalid number of logins."], ("GENERAL", 1, "6")),
            ("startup_dir /pub/incoming", [" Start-up directory for cuser changed to "
                                           "/pub/incoming"], ("DIR", None, "pub\\incoming\\")),
            ("tagline Hello   world", [" Tagline successfully changed."],
             ("TAGLINE", None, "Hello world")),
            ("timeframe 8 30", [" Invalid ending hour for time frame (must be 0-23).",
                                " Time frame successfully changed."], ("TIMEFRAME", None, "8 0")),
            ("timeframe 24", [" Invalid starting hour for time frame (must be 0-23)."],
             ("TIMEFRAME", None, "8 0")),
            ("timeframe 0 0", [" Time frame successfully changed."], ("TIMEFRAME", None, "0 0")),
            ("time_limit 90", [" Time limit successfully changed."], ("TIME", 2, "90")),
            ("time_limit 5000000000", [" Invalid time limit."], ("TIME", 2, "90")),
            ("wkly_allotment 4096", [" Weekly credit allotment successfully changed."],
             ("GENERAL", 0, "4096")),
            ("homedir ./elsewhere/", [" Homedir for cuser changed to ./elsewhere/"], None),
            # The passwd file is a ";" table: values that would break its line are refused.
            ("homedir bad;dir", [" Error modifying cuser."], None),
            ("homedir a#b", [" Error modifying cuser."], None),
            ("ratio", [" ratio  [0-9] The user's ratio"], None),
            ("credits", [" credits  [Kb]  User's Credits (use SITE GIVE to ADD)"], None),
            ("timeframe", [" timeframe  [0-23 0-23] The hours between which the user can log "
                           "in"], None),
            ("homedir", [f" cuser's homedir is set to {root}/elsewhere/"], None),
            ("startup_dir", [" cuser's start-up directory is set to pub/incoming/"], None),
        ]
        for change, lines, check in cases:
            expected = [f"200-{line}" for line in lines] + ["200 Done"]
            self.assertEqual(self.ask(c, "SITE CHANGE cuser " + change), expected, change)
            if check:
                keyword, index, value = check
                field = self.user_field("cuser", keyword)
                self.assertEqual(field if index is None else field.split()[index], value, change)
        self.assertEqual(self.passwd_entry("cuser")[5], "./elsewhere/")
        lines = self.ask(c, "SITE CHANGE cuser bogus 1")
        self.assertEqual(lines[:3], ["200- Valid fields & descriptions:", "200- ",
                                     "200- comment           [Str] The user's comment"])
        self.assertEqual(len(lines), 21)
        log = self.event_log()
        for line in ("orvex: changed CREDITS for 'cuser' from 0Kb to 2048Kb",
                     "orvex: changed FLAGS for 'cuser' to '1' (+1-8)",
                     "orvex: changed TAGLINE for 'cuser' from 'none' to 'Hello world'",
                     "orvex: changed MAX_DLSPEED for 'cuser' from 0 Kb/sec to 100 Kb/sec",
                     "orvex: changed GROUP_SLOTS for 'cuser' to '5 0'",
                     "orvex: changed HOMEDIR for 'cuser' to './elsewhere/'",
                     "orvex: changed STARTUP_DIR for 'cuser'"):
            self.assertIn(line, log)

    def test_change_many_users(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE CHANGE crew* tagline crewtag"),
                         ["200- Change command applied to 2 users.", "200 Done"])
        self.assertEqual(self.ask(c, "SITE CHANGE =CREW ratio 0"),
                         ["200- Change command applied to 2 users.", "200 Done"])
        self.assertEqual([self.user_field(u, "RATIO") for u in ("crew1", "crew2")], ["0", "0"])
        self.assertEqual(self.ask(c, "SITE CHANGE { crew1 nobody } ratio 2"), [
            "200- Successfully modified crew1", "200- Error modifying nobody.", "200 Done"])
        self.assertEqual(self.ask(c, "SITE CHANGE { crew1 crew2 ratio 2"),
                         ["501 } not found in list of usernames."])
        self.assertEqual(self.ask(c, "SITE CHANGE { crew2 }"),
                         ["200- Error modifying crew2.", "200 Done"])
        self.assertEqual(self.ask(c, "SITE CHANGE nobody ratio 1"),
                         ["200- User 'nobody' does not exist.", "200 Done"])
        self.assertEqual(self.ask(c, "SITE CHANGE nob* ratio 1"),
                         ["200- Change command applied to 0 users.", "200 Done"])
        # With only a target: the user's report, as SITE USER shows it.
        lines = self.ask(c, "SITE CHANGE crew1")
        self.assertEqual(lines, self.ask(c, "SITE USER crew1"))
        self.assertEqual(lines[0], "200- User Comment: test account")
        self.assertEqual(lines[-1], "200 Command successful.")
        # A user editor who is no site operator cannot hand out flags.
        e = self.login("editor")
        self.assertEqual(self.ask(e, "SITE CHANGE crew1 flags +1"),
                         ["200- Only sysop users may change flags.", "200 Done"])
        self.assertEqual(self.ask(e, "SITE CHANGE editor permissions +z"),
                         ["200- Only sysop users may change permissions.", "200 Done"])
        self.assertEqual(self.ask(e, "SITE CHANGE crew1 tagline edited"),
                         ["200- Tagline successfully changed.", "200 Done"])
        self.assertEqual(self.user_field("crew1", "FLAGS"), "")

    def test_addip_delip(self):
        c = self.login()
        mark = self.sysop_mark()
        self.assertEqual(self.ask(c, "SITE ADDIP nobody 1.1.1.1"),
                         ["501 User 'nobody' does not exists."])
        self.assertEqual(self.ask(c, "SITE ADDIP ipuser 10.0.0.*"),
                         ["200 IP (10.0.0.*) successfully added to ipuser."])
        for i in range(8):
            self.ask(c, f"SITE ADDIP ipuser 10.0.1.{i}")
        self.assertEqual(self.ask(c, "SITE ADDIP ipuser 10.9.9.9"),
                         ["503 User 'ipuser' has maximum number of IPS currently (10)"])
        self.assertEqual(self.ask(c, "SITE DELIP ipuser 10.0.0.*"),
                         ["200-IP (10.0.0.*) removed from ipuser.", "200 Done"])
        # Only positions 0 to 9 are numbers; 12 is an address text that is not there.
        self.assertEqual(self.ask(c, "SITE DELIP ipuser 12"), ["503 IP 12 not found."])
        self.assertEqual(self.ask(c, "SITE DELIP ipuser 0"),
                         ["200-IP (*) removed from ipuser.", "200 Done"])
        self.assertEqual(self.ask(c, "SITE DELIP ipuser 1"), ["503 IP 1 not found."])
        self.assertEqual(self.user_ips("ipuser"), [f"10.0.1.{i}" for i in range(8)])
        self.assertEqual(self.sysop_since(mark)[:2], ["orvex: added IP '10.0.0.*' to 'ipuser'"] +
                         [f"orvex: added IP '10.0.1.0' to 'ipuser'"])
        self.assertIn("orvex: removed IP '*' from 'ipuser'", self.sysop_since(mark))

    def test_chpass_and_passwd(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE CHPASS pwuser 12345678901234567"),
                         ["501 Password length must not exceed 16 characters."])
        self.assertEqual(self.ask(c, "SITE CHPASS nobody x"), ["502 User 'nobody' does not exists."])
        self.assertEqual(self.ask(c, "SITE CHPASS PWUSER Fresh1"),
                         ["200 Password successfully changed for user 'pwuser'."])
        p = self.login("pwuser", "Fresh1")
        self.assertEqual(self.ask(p, "SITE PASSWD 12345678901234567"),
                         ["501 Password length must not exceed 16 characters."])
        self.assertEqual(self.ask(p, "SITE PASSWD Again2"),
                         ["200 Password successfully changed for user 'pwuser'."])
        self.login("pwuser", "Again2")
        self.assertEqual(self.login_reply("pwuser", "Fresh1"), "530 User pwuser cannot login.")
        log = self.event_log()
        self.assertIn("orvex: changed password for 'pwuser'", log)
        self.assertIn("pwuser: changed password", log)

    def test_give_and_take(self):
        c = self.login()
        mark = self.sysop_mark()
        replies = [
            ("SITE GIVE nobody 5", "501 User 'nobody' does not exist."),
            ("SITE GIVE cash", "502 You must specify the amount of credits to give."),
            ("SITE TAKE cash", "502 You must specify the amount of credits to take."),
            ("SITE GIVE cash -5", "503 Credits must be a positive number."),
            ("SITE GIVE cash abc", "503 Credits must be a positive number."),
            # More than the stored credits can hold is refused, not wrapped.
            ("SITE GIVE cash 4294967396", "503 Credits must be a positive number."),
            ("SITE TAKE cash 500", "200 Successfully took 500K from cash"),
            ("SITE GIVE orvex 10", "200 Successfully transferred 10K to orvex."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        self.assertEqual(self.user_field("cash", "CREDITS"), "-400")
        p = self.login("poor")
        self.assertEqual(self.ask(p, "SITE GIVE cash 100"),
                         ["504 You don't have enough credits to do that."])
        self.assertEqual(self.ask(p, "SITE GIVE cash 30 for the   beer"),
                         ["200 Successfully transferred 30K to cash."])
        self.assertEqual(self.user_field("poor", "CREDITS"), "20")
        self.assertEqual(self.user_field("cash", "CREDITS"), "-370")
        inbox = self.site.read("ftp-data/msgs/cash")
        self.assertIn("\nFrom: poor (", inbox)
        self.assertIn("-" * 74 + "\nfor the beer\n", inbox)
        self.assertEqual(self.sysop_since(mark), ["orvex: took 500K from cash.",
                                                  "poor: transferred 30K to 'cash'"])
        # Sums stop at the ends of the stored range.
        self.ask(c, "SITE CHANGE cash credits 2147483000")
        self.ask(c, "SITE GIVE cash 1000")
        self.assertEqual(self.user_field("cash", "CREDITS"), "2147483647")
        self.ask(c, "SITE CHANGE cash credits -2147483000")
        self.ask(c, "SITE TAKE cash 1000")
        self.assertEqual(self.user_field("cash", "CREDITS"), "-2147483648")

    def test_ratio_idle_tagline(self):
        c = self.login()
        replies = [
            ("SITE RATIO nobody", "501 User 'nobody' does not exists."),
            ("SITE RATIO rat", "200 Current Ratio: 1:3"),
            ("SITE RATIO rat 10", "503 Ratio out of range (range is 0 to 9)."),
            ("SITE RATIO rat 0", "200 Command Successful."),
            ("SITE RATIO rat", "200 Current Ratio: Unlimited"),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        self.assertIn("orvex: changed ratio for 'rat' from '3' to '0'", self.event_log())
        o = self.login("outsider")
        self.assertEqual(self.ask(o, "SITE IDLE"),
                         ["200 Current IDLE time limit is 0 seconds (0=unlimited)."])
        self.assertEqual(self.ask(o, "SITE IDLE 60"), [NO_ACCESS])
        i = self.login("idle1")
        self.assertEqual(self.ask(i, "SITE IDLE 60"), ["200 Maximum IDLE time set to 60 seconds."])
        self.assertEqual(self.user_field("idle1", "USET"), "60")
        for bad in ("x", "-1", "99999999999"):
            self.assertEqual(self.ask(i, "SITE IDLE " + bad), ["501 Invalid idle time."])
        self.assertEqual(self.ask(o, "SITE TAGLINE"), ["200 Current Tagline: none"])
        self.assertEqual(self.ask(o, "SITE TAGLINE My  new tag"), ["200 New Tagline: My new tag"])
        self.assertEqual(self.user_field("outsider", "TAGLINE"), "My new tag")
        self.assertIn("outsider: changed tagline to 'My new tag'", self.event_log())

    def test_views(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE FLAGS nobody"), ["501 Invalid user."])
        lines = self.ask(c, "SITE FLAGS")
        self.assertEqual(lines[:4], ["200- FLAGS for user orvex ...", "200- ",
                                     "200-    [*]SITEOP     -1-", "200-    [ ]GADMIN     -2-"])
        self.assertEqual(lines[-4:], [
            "200- ", "200- A '*' denotes an enabled flag.  Only sysop users may change flags.",
            "200- Use SITE CHANGE <USER> FLAGS +/-VALUE to change.", "200 Command successful."])
        self.assertEqual(len(lines), 24)
        lines = self.ask(c, "SITE PERMISSIONS outsider")
        self.assertEqual(lines[0], "200- PERMISSIONS for user outsider ...")
        self.assertIn("200-    [*]EXECUTE (lvcpst)  -x-", lines)
        self.assertEqual(len(lines), 21)
        text = self.site.read("ftp-data/users/outsider").splitlines()
        self.assertEqual(self.ask(c, "SITE SHOW outsider"),
                         ["200- " + line for line in text] + ["200 Command Successful."])
        self.assertEqual(self.ask(c, "SITE SHOW nobody"), ["501 User 'nobody' does not exist."])
        hashed = self.passwd_entry("outsider")[1]
        self.assertEqual(self.ask(c, "SITE USERDATA outsider")[-1],
                         f"200 Command successful ({hashed}).")
        users = [n for n in os.listdir(self.site.path("ftp-data/users")) if "." not in n]
        self.assertEqual(self.ask(c, "SITE USERSYNC"),
                         [f"200 User information synchronized ({len(users)} total users)."])

    def test_no_way_up_to_siteop(self):
        admin_hash = self.passwd_entry("orvex")[1]
        admin_ips = self.user_ips("orvex")
        done = ["200 Done"]
        refused = ["200- You do not have access to this command."] + done
        # A group administrator stays in the group it administers and never reaches an operator.
        g = self.login("gcrew")
        for command in ("SITE CHPASS orvex x", "SITE ADDIP orvex 6.6.6.6", "SITE GROUP gang",
                        "SITE GROUP siteops", "SITE DELUSER orvex", "SITE RATIO orvex 0"):
            self.assertEqual(self.ask(g, command), [NO_ACCESS], command)
        self.assertEqual(self.user_field("gcrew", "GROUP"), "gang")
        # Without a group it holds nobody, not everybody without one.
        self.assertEqual(self.ask(self.login("lonely"), "SITE ADDIP nogroup 6.6.6.6"),
                         ["502 Invalid Access. User is not in group ()."])
        # A user editor edits users, but no operator, and sends nobody out of the sites.
        e = self.login("ued")
        for command in ("SITE CHPASS orvex x", "SITE ADDIP orvex 6.6.6.6", "SITE DELIP orvex 0",
                        "SITE RENUSER orvex orvex2", "SITE DELUSER orvex", "SITE DELUSER op2",
                        "SITE CHGRP orvex users", "SITE CHGRP gcrew siteops"):
            self.assertEqual(self.ask(e, command), [NO_ACCESS], command)
        for change in ("orvex ratio 1", "op2 homedir /", "orvex flags -1"):
            self.assertEqual(self.ask(e, "SITE CHANGE " + change), refused, change)
        self.assertEqual(self.ask(e, "SITE CHANGE { orvex ued } tagline x"),
                         ["200- Error modifying orvex.", "200- Successfully modified ued"] + done)
        for home in ("/", "./site/../etc", "./", "/etc"):
            self.assertEqual(self.ask(e, "SITE CHANGE ued homedir " + home),
                             ["200- Error modifying ued."] + done, home)
        self.assertEqual(self.ask(e, "SITE CHANGE ued homedir ./site/"),
                         ["200- Homedir for ued changed to ./site/"] + done)
        self.assertEqual(self.ask(e, "SITE GADDUSER ops sneaky pw"),
                         ["200 User (sneaky) successfully added to group ops."])
        self.assertEqual(self.user_field("sneaky", "FLAGS"), "7")
        # Nobody without flag 1 reads an operator's stored password, and no log holds one.
        p = self.login("peer")
        self.assertEqual(self.ask(p, "SITE USERDATA orvex")[-1], "200 Command successful ().")
        outsider_hash = self.passwd_entry("outsider")[1]
        self.assertEqual(self.ask(p, "SITE USERDATA outsider")[-1],
                         f"200 Command successful ({outsider_hash}).")
        self.assertEqual(self.ask(self.login(), "SITE USERDATA orvex")[-1],
                         f"200 Command successful ({admin_hash}).")
        log = self.access_log()
        self.assertNotIn(admin_hash, log)
        self.assertNotIn(outsider_hash, log)
        # Everything of the operators is as it was; an operator still edits another one.
        self.assertEqual(self.passwd_entry("orvex")[1], admin_hash)
        self.assertEqual(self.user_ips("orvex"), admin_ips)
        self.assertEqual(self.user_field("op2", "FLAGS"), "1")
        self.login()
        self.assertEqual(self.ask(self.login(), "SITE ADDIP op2 10.9.9.9"),
                         ["200 IP (10.9.9.9) successfully added to op2."])
