"""Account changes made over FTP are in the files the moment they are answered: the server is
killed with SIGKILL right after each reply and started again. Also: a new group never takes an id
that accounts still carry."""

from site_admin_support import SiteAdminCase


class SiteDurability(SiteAdminCase):
    users = {"holder": {"group": "top", "gid": 161}, "spare": {}}
    groups = (("base", "Base", 160, 0), ("top", "Top", 161, 0))

    def test_changes_survive_sigkill(self):
        rounds = [
            ("SITE ADDUSER dur1 FirstPw 127.0.0.1", "200 User (dur1) successfully added."),
            ("SITE CHPASS dur1 SecondPw", "200 Password successfully changed for user 'dur1'."),
            ("SITE GRPADD durgrp Durable group", "200 Group (durgrp) successfully added."),
            ("SITE CHGRP dur1 durgrp", "200 'dur1' has been successfully added to 'durgrp'."),
            ("SITE CHANGE dur1 ratio 5", "200 Done"),
            ("SITE DELUSER spare", "200 User (spare) deleted."),
            ("SITE PURGE spare", "200 Command successful.  (1 Users Purged)"),
        ]
        for command, reply in rounds:
            c = self.login()
            self.assertEqual(self.final(c, command), reply, command)
            self.restart_after_sigkill()
        self.login("dur1", "SecondPw")
        self.assertEqual(self.user_field("dur1", "RATIO"), "5")
        self.assertEqual(self.user_field("dur1", "GROUP"), "durgrp")
        self.assertEqual(self.user_ips("dur1"), ["127.0.0.1"])
        gid = self.group_entry("durgrp")[2]
        self.assertEqual(self.passwd_entry("dur1")[3], gid)
        self.assertIsNone(self.passwd_entry("spare"))
        self.assertEqual(self.login_reply("spare", "pw"), "530 User spare cannot login.")
        self.assertEqual(len([line for line in self.event_log() if line.startswith("orvex: ")]),
                         len(rounds))

    def test_new_groups_never_take_an_id_accounts_still_carry(self):
        c = self.login()
        self.assertEqual(self.final(c, "SITE GRPDEL top"), "200 Group (top) successfully deleted.")
        self.assertEqual(self.passwd_entry("holder")[3], "161")
        self.assertEqual(self.final(c, "SITE GRPADD reborn"), "200 Group (reborn) successfully added.")
        self.assertGreater(int(self.group_entry("reborn")[2]), 161)
