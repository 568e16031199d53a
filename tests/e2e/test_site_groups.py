"""The group SITE commands against a running orvex: every reply text, the sysop-log lines and what
reaches the group, passwd and user files."""

import os

from site_admin_support import NO_ACCESS, SiteAdminCase
from orvex_support import user_file

DASHES = "200- " + "-" * 70
SHARED = "rem$10.0.0.9$21"


class SiteGroups(SiteAdminCase):
    users = {
        "g_member": {"group": "alpha", "gid": 160}, "joiner": {"group": ""}, "locked": {"flags": "3"},
        "gadm": {"flags": "2", "group": "alpha", "gid": 160},
        "dm": {"group": "deleteme", "gid": 163}, "rm1": {"group": "renme", "gid": 164},
        "t_op": {"flags": "1", "group": "team", "ratio": 3, "tagline": "Top"},
        "t_adm": {"flags": "2", "group": "team", "ratio": 0, "tagline": "Leech admin"},
        "t_gone": {"flags": "6", "group": "team", "ratio": 2},
    }
    groups = (("alpha", "Alpha team", 160, 0), ("beta", "Beta team", 161, 0),
              ("gamma", "Gamma", 162, 0), ("deleteme", "Going", 163, 0),
              ("renme", "Renamed soon", 164, 0), ("team", "The team", 165, 0))

    @classmethod
    def prepare(cls):
        cls.site.write(f"ftp-data/users/{SHARED}", user_file(group="renme"))
        for name, up, down in (("t_op", "5 3072 10", "2 1024 3"),
                               ("t_adm", "7 2048000 10", "1 5120 1")):
            text = cls.site.read(f"ftp-data/users/{name}")
            text = text.replace("ALLUP 0 0 0", f"ALLUP {up}").replace("ALLDN 0 0 0", f"ALLDN {down}")
            cls.site.write(f"ftp-data/users/{name}", text)

    def test_chgrp(self):
        c = self.login()
        mark = self.sysop_mark()
        self.assertEqual(self.ask(c, "SITE CHGRP"), self.help_lines("site.chgrp"))
        self.assertEqual(self.ask(c, "SITE CHGRP nobody"), ["501 'nobody': user not found."])
        self.assertEqual(self.ask(c, "SITE CHGRP G_MEMBER"), [
            "200- g_member is a member of the following group:", DASHES, "200-  alpha", "200-",
            "200 Use SITE CHGRP <username> <group> to toggle groups."])
        self.assertEqual(self.ask(c, "SITE CHGRP g_member nogroup"),
                         ["504 'nogroup' is not a valid group. SITE GROUPS for a list."])
        self.assertEqual(self.ask(c, "SITE CHGRP g_member ALPHA"),
                         ["200 'g_member' has been successfully removed from 'alpha'"])
        self.assertEqual(self.user_field("g_member", "GROUP"), "")
        self.assertEqual(self.passwd_entry("g_member")[3], "100")
        self.assertEqual(self.ask(c, "SITE CHGRP g_member beta"),
                         ["200 'g_member' has been successfully added to 'beta'."])
        self.assertEqual(self.user_field("g_member", "GROUP"), "beta")
        self.assertEqual(self.passwd_entry("g_member")[3], "161")
        self.assertEqual(self.ask(c, f"SITE CHGRP {SHARED} beta"),
                         [f"502 '{SHARED}': unable to load user information."])
        self.assertEqual(self.sysop_since(mark), [
            "orvex: successfully removed 'g_member' from 'alpha'",
            "orvex: successfully added 'g_member' to 'beta'"])

    def test_group(self):
        j = self.login("joiner")
        mark = self.sysop_mark()
        self.assertEqual(self.ask(j, "SITE GROUP"), [
            "200- You are a member of the following group:", DASHES, "200-  ", "200-",
            "200 Command successful."])
        self.assertEqual(self.ask(j, "SITE GROUP nogroup"),
                         ["502 'nogroup' is not a valid group. SITE GROUPS for a list."])
        self.assertEqual(self.ask(j, "SITE GROUP GAMMA"),
                         ["200 You have been successfully added to 'gamma'."])
        self.assertEqual(self.passwd_entry("joiner")[3], "162")
        self.assertEqual(self.ask(j, "SITE GROUP beta"),
                         ['501 You must leave "gamma" before you may join "beta".'])
        self.assertEqual(self.ask(j, "SITE GROUP gamma"),
                         ["200 You have been successfully removed from 'gamma'"])
        self.assertEqual(self.passwd_entry("joiner")[3], "100")
        self.assertEqual(self.user_field("joiner", "GROUP"), "")
        self.assertEqual(self.ask(self.login("locked"), "SITE GROUP gamma"), [NO_ACCESS])
        self.assertEqual(self.sysop_since(mark), ["joiner: has joined group 'gamma'",
                                                  "joiner: has been removed from group 'gamma'"])

    def test_groups(self):
        c = self.login()
        members = {}
        users = self.site.path("ftp-data/users")
        for name in os.listdir(users):
            if "." not in name or "$" in name:
                group = (self.user_field(name, "GROUP") or "").lower()
                members[group] = members.get(group, 0) + 1
        groups = [line.split(";") for line in self.site.read("etc/group").splitlines()
                  if line and not line.startswith("#")]
        rows = [f"200- ({members.get(g[0].lower(), 0):4})  {g[0]:<16} {g[1]}" for g in groups]
        self.assertEqual(self.ask(c, "SITE GROUPS"), [
            "200- #users  Group Abbr.      Group Description", DASHES] + rows + [
            "200-", "200- Type SITE CHGRP to add or remove users from these groups.", "200-",
            f"200 {len(groups)} user groups"])

    def test_grpadd_and_grpdel(self):
        c = self.login()
        mark = self.sysop_mark()
        replies = [
            ("SITE GRPADD abcdefghijklmnopq", "501 Group length must not exceed 16 characters."),
            ("SITE GRPADD 1bad", "502 Group must start with a letter and only contain "
                                 "[A-Z,a-z,0-9,'-','_']."),
            ("SITE GRPADD System", "503 'System' is not an allowed group name."),
            ("SITE GRPADD newgrp My   new group", "200 Group (newgrp) successfully added."),
            ("SITE GRPADD NEWGRP x", "504 Error adding group NEWGRP."),
            # The group file is a ";" table: a description may not break its line.
            ("SITE GRPADD semi a;b", "504 Error adding group semi."),
            ("SITE GRPADD hash a#b", "504 Error adding group hash."),
            ("SITE GRPDEL nogroup", "501 Group (nogroup) does not exists."),
            ("SITE GRPDEL deleteme", "200 Group (deleteme) successfully deleted."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        self.assertEqual(self.group_entry("newgrp")[:2] + self.group_entry("newgrp")[3:],
                         ["newgrp", "My new group", "0"])
        self.assertIsNone(self.group_entry("semi"))
        self.assertIsNone(self.group_entry("hash"))
        self.assertIsNone(self.group_entry("deleteme"))
        # Members keep the name of a deleted group.
        self.assertEqual(self.user_field("dm", "GROUP"), "deleteme")
        self.assertEqual(self.sysop_since(mark), ["orvex: added group 'newgrp'",
                                                  "orvex: deleted group 'deleteme'"])

    def test_grplog(self):
        c = self.login()
        replies = [
            ("SITE GRPLOG gamma", "200 Total logins for group 'gamma' set to 0 (unlimited)."),
            ("SITE GRPLOG nogroup", "501 Missing group login restriction."),
            ("SITE GRPLOG gamma x", "502 x: Invalid number of logins."),
            ("SITE GRPLOG gamma -2", "502 -2: Invalid number of logins."),
            ("SITE GRPLOG nogroup 2", "503 Group (nogroup) does not exists."),
            ("SITE GRPLOG gamma 3", "200 Group (gamma) successfully changed."),
            ("SITE GRPLOG gamma", "200 Total logins for group 'gamma' set to 3."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        self.assertEqual(self.group_entry("gamma")[3], "3")
        self.assertIn("orvex: changed group logins of 'gamma' to (3)", self.event_log())

    def test_grpnfo(self):
        c = self.login()
        g = self.login("gadm")
        self.assertEqual(self.ask(c, "SITE GRPNFO"), self.help_lines("site.grpnfo"))
        self.assertEqual(self.ask(c, "SITE GRPNFO alpha"), ["501 Missing group description."])
        self.assertEqual(self.ask(g, "SITE GRPNFO beta x"),
                         ["502 Gadmins can only use this command on their own group."])
        for bad in ("a;b", "a#b"):
            self.assertEqual(self.ask(c, f"SITE GRPNFO alpha {bad}"),
                             ["503 Group description cannot contain a ';'."])
        self.assertEqual(self.ask(g, "SITE GRPNFO alpha Alpha team rules"),
                         ["200 Group (alpha) successfully changed."])
        self.assertEqual(self.group_entry("alpha")[1], "Alpha team rules")
        self.assertEqual(self.ask(c, "SITE GRPNFO nogroup x"),
                         ["504 Group (nogroup) does not exists."])
        self.assertIn("gadm: changed groupnfo of 'alpha' to 'Alpha team rules'", self.event_log())

    def test_grpren(self):
        c = self.login()
        replies = [
            ("SITE GRPREN beta", "501 Missing new group name."),
            ("SITE GRPREN beta abcdefghijklmnopq",
             "502 Group length must not exceed 16 characters."),
            ("SITE GRPREN beta 1x", "503 Group must start with a letter and only contain "
                                    "[A-Z,a-z,0-9,'-','_']."),
            ("SITE GRPREN beta system", "503 'system' is not an allowed group name."),
            ("SITE GRPREN nogroup other", "505 Group (nogroup) does not exists."),
            ("SITE GRPREN beta alpha", "504 Group (alpha) exists."),
            ("SITE GRPREN renme renamed", "200 Group (renme) successfully renamed to (renamed)."),
        ]
        for command, reply in replies:
            self.assertEqual(self.ask(c, command), [reply], command)
        entry = self.group_entry("renamed")
        self.assertEqual(entry[1:3], ["Renamed soon", "164"])
        self.assertIsNone(self.group_entry("renme"))
        self.assertEqual(self.user_field("rm1", "GROUP"), "renamed")
        # A user of another server keeps the name its own server gave.
        self.assertEqual(self.user_field(SHARED, "GROUP"), "renme")
        self.assertIn("orvex: changed group name of 'renme' to 'renamed'", self.event_log())

    def test_ginfo(self):
        c = self.login()
        self.assertEqual(self.ask(c, "SITE GINFO nogroup"),
                         ["501 'nogroup' is not a valid group. SITE GROUPS for a list."])
        sep = "200- |-----------+------+--------+------+--------+-------+-------------------|"
        lines = self.ask(c, "SITE GINFO TEAM")
        # Members come in the store's order.
        self.assertEqual(sorted(lines[3:6]), [
            "200- | t_gone    |    0 |      0 |    0 |      0 | 1:2   | ***DELETED***     |",
            "200- |*t_op      |    5 |      3 |    2 |      1 | 1:3   | Top               |",
            "200- |+t_adm     |    7 |   2000 |    1 |      5 | leech | Leech admin       |"])
        self.assertEqual(lines[:3] + lines[6:], [
            "200- .-------------------------[ Group Information ]-------------------------.",
            "200- |T Username |   Up |   Megs |   Dn |   Megs | Ratio | Tagline           |",
            sep,
            sep,
            "200- |   * denotes a siteop (flag 1)     + denotes a group admin (flag 2)    |",
            sep,
            "200- |   Tot Megs Up: 2003        Tot Files Up: 12       Users in group: 3   |",
            "200- |   Tot Megs Dn: 6           Tot Files Dn: 3            With leech: 1   |",
            "200- `-----------------------------------------------------------------------'",
            "200 Command successful."])
