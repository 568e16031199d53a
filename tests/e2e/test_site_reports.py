"""The statistics reports against a running orvex: one fixture of users whose files carry known
statistics, nuke fields, credits, flags and groups feeds every top list, STATS, TRAFFIC, USER and
USERS, compared line for line."""

import os
import time

from harness import RawClient
from orvex_support import user_file
from site_admin_support import ADMIN_PASSWORD, NO_ACCESS, SiteAdminCase

NOW = int(time.time())
KEYS = ("ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN")


def stats(*triples):
    return dict(zip(KEYS, triples))


Z = (0, 0, 0)
TIE = stats(Z, Z, Z, Z, (1, 9000, 1), Z, Z, Z)
# In the order the server first meets them, which is the order of its store (after orvex).
FIXTURE = [
    ("ann", dict(group="alpha", tagline="first-lady", ratio=3, credits=2048,
                 nuke="1700000000 2 300", ips=("10.0.0.*", "192.168.1.1"),
                 general="5120 2 65536 32768", logins="2 1 3 -1", timeframe="8 20",
                 time_line=f"7 {NOW} 90 0", slots="-1 2", idle=600, comment="Ann of alpha",
                 stats=stats((10, 20480, 100), (5, 10240, 0), (4, 4096, 4), (3, 3072, 0),
                             (2, 1536, 3), (1, 512, 0), (6, 8192, 8), (5, 5120, 10)))),
    ("bob", dict(group="alpha", tagline="bob-the-builder-of-long-taglines", ratio=1,
                 credits=10240, nuke="0 5 1000",
                 stats=stats((20, 40960, 40), (8, 81920, 80), (1, 1024, 1), (6, 6144, 6), Z,
                             (4, 2048, 2), (2, 2048, 2), (9, 9216, 9)))),
    ("tie1", dict(group="ties", stats=TIE)),
    ("cat", dict(group="beta", tagline="meow",
                 stats=stats((3, 3072, 3), (30, 307200, 300), (9, 9216, 9), (1, 1024, 1),
                             (5, 5120, 5), Z, (1, 1024, 1), (2, 2048, 2)))),
    ("tie2", dict(group="ties", stats=TIE)),
    ("gone", dict(group="beta", flags="6", nuke="0 1 50",
                  stats=stats((1, 1048576, 1024), Z, Z, Z, Z, Z, Z, Z))),
    ("tie3", dict(group="ties", stats=TIE)),
    ("neg", dict(group="beta", ratio=1, credits=-3072, stats=stats(Z, (2, 2048, 0)))),
    ("tie4", dict(group="ties", stats=TIE)),
    ("gadm", dict(group="alpha", flags="2", ratio=1)),
    ("plain", dict(ratio=1)),
    ("lister", dict(flags="H", ratio=1)),
    ("leech", dict(ratio=0, stats=stats((1, 100, 1)))),
    ("sam$10.0.0.5$21", dict(group="beta", ratio=1,
                             stats=stats((7, 70000, 7), (3, 500, 5), (2, 2000, 0)))),
    ("samantha$fileserver.example.org$2121",
     dict(group="alpha", ratio=1, credits=-1500, nuke="0 3 700",
          stats=stats(Z, (12, 120000, 12), Z, Z, Z, Z, Z, (3, 3000, 3)))),
]
# Seen today, so that no period of their statistics has ended.
for _, fields in FIXTURE:
    fields.setdefault("time_line", f"0 {NOW} 0 0")
ADMIN = dict(group="siteops", flags="17", tagline="Orvex administrator", ratio=0)
LOGINS = ("gadm", "plain", "lister")


def field(fields, key, default):
    return fields.get(key, default)


def stat(fields, key):
    return fields.get("stats", {}).get(key, (0, 0, 0))


def rank(keys, count):
    """The ranking rule of the top lists, for the expectations."""
    kept = []
    for i, key in enumerate(keys):
        if len(kept) < count:
            kept.append(i)
            continue
        at = min(range(len(kept)), key=lambda j: (keys[kept[j]], j))
        if keys[kept[at]] >= key:
            continue
        kept.pop(at)
        kept.append(i)
    out = []
    while kept:
        at = max(range(len(kept)), key=lambda j: (keys[kept[j]], -j))
        out.append(kept.pop(at))
    return out


def cont(lines):
    return ["200-" + line for line in lines]


USER_TOPS = {
    "ALDN": (" .----------------------[ Top AllTime Downloaders ]----------------------.", "ALLDN", 0),
    "ALUP": (" .-----------------------[ Top AllTime Uploaders ]-----------------------.", "ALLUP", 0),
    "DAYDN": (" .---------------------[ Top Downloaders For Today ]---------------------.", "DAYDN", 2),
    "DAYUP": (" .----------------------[ Top Uploaders For Today ]----------------------.", "DAYUP", 2),
    "WKDN": (" .-------------------[ Top Downloaders For This Week ]-------------------.", "WKDN", 2),
    "WKUP": (" .--------------------[ Top Uploaders For This Week ]--------------------.", "WKUP", 2),
    "MONTHDN": (" .------------------[ Top Downloaders For This Month ]-------------------.", "MONTHDN", 1),
    "MONTHUP": (" .-------------------[ Top Uploaders For This Month ]--------------------.", "MONTHUP", 1),
}
SEPARATOR = " |-----------------------------------------------------------------------|"
FOOTER = " `-----------------------------------------------------------------------'"
GROUP_TOPS = {
    "GPAD": (" .-------------------[ Top Group AllTime Downloaders ]-------------------.", "ALLDN"),
    "GPAL": (" .--------------------[ Top Group AllTime Uploaders ]--------------------.", "ALLUP"),
    "GPMD": (" .---------------[ Top Group Downloaders For This Month ]----------------.", "MONTHDN"),
    "GPMN": (" .----------------[ Top Group Uploaders For This Month ]-----------------.", "MONTHUP"),
    "GPWD": (" .----------------[ Top Group Downloaders For This Week ]----------------.", "WKDN"),
    "GPWK": (" .-----------------[ Top Group Uploaders For This Week ]-----------------.", "WKUP"),
}
GROUPS = (("alpha", "Alpha crew of the northern hills", 160, 0), ("beta", "Beta team", 161, 0),
          ("ties", "Tied users", 162, 0), ("empty", "Nobody here", 163, 0))


class SiteReports(SiteAdminCase):
    users = {name: {} for name in LOGINS}
    groups = GROUPS
    conf = {"site_flags": "STATS 1"}

    @classmethod
    def add_user(cls, name, **fields):
        # Only the passwd entry now: the user files come after the start, in a known order.
        super().add_user(name, **fields)
        cls.site.remove(f"ftp-data/users/{name}")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            cls.order = [("orvex", ADMIN)] + FIXTURE
            for name, fields in FIXTURE:
                cls.site.write(f"ftp-data/users/{name}", user_file(**fields))
            # The first lookup of each user adds it at the end of the store.
            admin = RawClient(cls.port, timeout=20)
            admin.reply()
            admin.cmd("USER orvex")
            admin.send(f"PASS {ADMIN_PASSWORD}\r\n")
            admin.reply()
            for name, _ in FIXTURE:
                assert admin.cmd(f"SITE SEEN {name}").startswith("200 I last saw"), name
            admin.close()
        except BaseException:
            cls.tearDownClass()
            raise

    def fields_of(self, name):
        return dict(self.order)[name]

    # Expectations.

    def expected_user_top(self, command, count=10, kind=0):
        title, key, decimals = USER_TOPS[command]
        chosen = [(n, f) for n, f in self.order
                  if kind == 0 or (kind == 1) == ("$" not in n)]
        keys = [stat(f, key)[1] for _, f in chosen]
        lines = [title, " | ## User              Tagline                Files  Megabytes  Avg k/s |",
                 SEPARATOR]
        for place, at in enumerate(rank(keys, count), 1):
            name, f = chosen[at]
            files, kb, secs = stat(f, key)
            mb = ("%8u" % (kb // 1024)) if decimals == 0 else ("%8.*f" % (decimals, kb / 1024))
            lines.append(" [%02d] %-17s %-21s %6u %sMB %5uk/s" % (
                place, name[:17], field(f, "tagline", "none")[:21], files, mb, kb // (secs + 1)))
        return cont(lines + [FOOTER]) + ["200 Command successful."]

    def expected_group_top(self, command, count=10):
        title, key = GROUP_TOPS[command]
        groups = [("users", "Users"), ("siteops", "Site operators")] + \
                 [(g[0], g[1]) for g in GROUPS]
        totals = []
        for group, description in groups:
            members = [f for _, f in self.order if field(f, "group", "users") == group]
            totals.append((group, description, sum(stat(f, key)[0] for f in members),
                           sum(stat(f, key)[1] // 1024 for f in members), len(members)))
        word = "Up" if key.endswith("UP") else "Dn"
        lines = [title,
                 f" | ## Group Abb.       Group Desc.               Files {word}  Megabytes  M# |",
                 SEPARATOR]
        for place, at in enumerate(rank([t[3] for t in totals], count), 1):
            group, description, files, mb, members = totals[at]
            lines.append(" [%02d] %-16s %-25s %8u %8uMB %3u" % (
                place, group[:16], description[:25], files, mb, members))
        return cont(lines + [FOOTER]) + ["200 Command successful."]

    # The reports.

    def test_user_top_lists(self):
        c = self.login("plain")
        for command in USER_TOPS:
            for args, count, kind in (("", 10, 0), (" 3", 3, 0), (" 150", 99, 0),
                                      (" local", 10, 1), (" 5 remote", 5, 2), (" LOCAL", 10, 1),
                                      (" other", 10, 0), (" 4 sideways", 4, 0)):
                self.assertEqual(self.ask(c, f"SITE {command}{args}"),
                                 self.expected_user_top(command, count, kind), command + args)
        # The cases the expectations rest on, spelled out.
        rows = self.ask(c, "SITE DAYUP 3")[3:6]
        self.assertEqual([row.split()[2] for row in rows], ["tie1", "tie2", "tie3"])
        self.assertEqual(rows[0], "200- [01] tie1              none                       1"
                                  "     8.79MB  4500k/s")
        # No seconds: the average is the kilobytes divided by 1.
        self.assertEqual(self.ask(c, "SITE ALDN")[6], "200- [04] ann               first-lady"
                                                      "                 5       10MB 10240k/s")
        self.assertEqual(len(self.ask(c, "SITE ALUP 150")), 3 + 16 + 2)
        self.assertEqual(self.ask(c, "SITE MONTHDN remote")[3],
                         "200- [01] samantha$fileserv none                       3      2.9MB"
                         "   750k/s")
        self.assertEqual(self.ask(c, "SITE WKUP 0")[3:], cont([FOOTER]) + ["200 Command successful."])

    def test_nuketop(self):
        c = self.login("plain")
        head = [" .--------------------------[ Top Nuked Users ]--------------------------.",
                " | ## User                  Group            Times Nuked     Bytes Nuked |",
                SEPARATOR]
        done = cont([FOOTER]) + ["200 Command successful."]
        for args, count, kind in (("", 10, 0), (" 4", 4, 0), (" local", 10, 1), (" 1 remote", 1, 2)):
            chosen = [(n, f) for n, f in self.order
                      if kind == 0 or (kind == 1) == ("$" not in n)]
            nukes = [[int(v) for v in field(f, "nuke", "0 0 0").split()[1:]] for _, f in chosen]
            rows = [" [%02d] %-21s %-16s %11u    %10uMB" % (
                place, chosen[at][0][:21], field(chosen[at][1], "group", "users"), *nukes[at])
                for place, at in enumerate(rank([n[1] for n in nukes], count), 1)]
            self.assertEqual(self.ask(c, "SITE NUKETOP" + args), cont(head + rows) + done, args)
        self.assertEqual(self.ask(c, "SITE NUKETOP 4")[3:7], cont([
            " [01] bob                   alpha                      5          1000MB",
            " [02] samantha$fileserver.e alpha                      3           700MB",
            " [03] ann                   alpha                      2           300MB",
            " [04] gone                  beta                       1            50MB"]))

    def test_group_top_lists(self):
        c = self.login("plain")
        for command in GROUP_TOPS:
            for args, count in (("", 10), (" 2", 2), (" 150", 99)):
                self.assertEqual(self.ask(c, f"SITE {command}{args}"),
                                 self.expected_group_top(command, count), command + args)
        self.assertEqual(self.ask(c, "SITE GPWK")[1],
                         "200- | ## Group Abb.       Group Desc.               Files Up  Megabytes  M# |")
        # The deleted member counts; the description is cut; each member adds whole megabytes.
        self.assertEqual(self.ask(c, "SITE GPAL 1")[3],
                         "200- [01] beta             Beta team                       11     1095MB   4")
        self.assertEqual(self.ask(c, "SITE GPAD 1")[3],
                         "200- [01] beta             Beta team                       35      302MB   4")
        self.assertIn("Alpha crew of the norther ", self.ask(c, "SITE GPMD 1")[3])

    def test_stats(self):
        def expected(name):
            f = self.fields_of(name)
            lines = [" +-------------------------------[ STATS ]-------------------------------+",
                     " |               - FILES -            - BYTES -          - AVG RATE -    | "]
            for label, key in (("ALLTIME UP", "ALLUP"), ("ALLTIME DOWN", "ALLDN"),
                               ("MONTH UP", "MONTHUP"), ("MONTH DOWN", "MONTHDN"),
                               ("WEEK UP", "WKUP"), ("WEEK DOWN", "WKDN"), ("DAY UP", "DAYUP"),
                               ("DAY DOWN", "DAYDN")):
                files, kb, secs = stat(f, key)
                rate = int(kb / secs + 0.5) if secs else 0
                lines.append(" | %-12s %10u         %10uMB         %10uK/s    |" % (
                    label, files, (kb + 512) // 1024, rate))
            lines.append(" +-----------------------------------------------------------------------+")
            return cont(lines) + ["200 Command Successful."]

        p = self.login("plain")
        self.assertEqual(self.ask(p, "SITE STATS"), expected("plain"))
        self.assertEqual(self.ask(p, "SITE STATS PLAIN"), expected("plain"))
        self.assertEqual(self.ask(p, "SITE STATS ann"), [NO_ACCESS])
        a = self.login()
        # A period of 0 seconds shows no rate instead of dividing by zero.
        ann = self.ask(a, "SITE STATS Ann")
        self.assertEqual(ann, expected("ann"))
        self.assertEqual(ann[3], "200- | ALLTIME DOWN          5                 10MB                  0K/s    |")
        self.assertEqual(self.ask(a, "SITE STATS cat"), expected("cat"))
        self.assertEqual(self.ask(a, "SITE STATS ghost"), ["501 User 'ghost' does not exist."])

    def test_traffic(self):
        c = self.login("plain")
        lines = [" .-=----------------------------------------------=-.",
                 " |                Traffic Statistics                |",
                 " |-=----------------------------------------------=-|",
                 " | Totals          |   Files |     Megs | Avg Speed |",
                 " |-=----------------------------------------------=-|"]
        for label, key in (("Total Uploads", "ALLUP"), ("Total Downloads", "ALLDN"),
                           ("Month Uploads", "MONTHUP"), ("Month Downloads", "MONTHDN"),
                           ("Week Uploads", "WKUP"), ("Week Downloads", "WKDN"),
                           ("Day Uploads", "DAYUP"), ("Day Downloads", "DAYDN")):
            files = sum(stat(f, key)[0] for _, f in self.order)
            kb = sum(stat(f, key)[1] for _, f in self.order)
            secs = 0.1 + sum(stat(f, key)[2] for _, f in self.order)
            lines.append(" | %-15s | %7.0f | %8.0f | %5.0f K/s |" % (label, files, kb / 1024,
                                                                      kb / secs))
        lines.append(" `-=----------------------------------------------=-'")
        self.assertEqual(self.ask(c, "SITE TRAFFIC"), cont(lines) + ["200 Command Successful."])
        self.assertEqual(lines[5], " | Total Uploads   |      42 |     1155 |  1007 K/s |")

    def user_report(self, name, comment, masks):
        f = self.fields_of(name)
        text = self.site.read(f"ftp-data/users/{name}")
        count, last = [int(v) for v in text.split("\nTIME ")[1].split()[:2]]
        created = time.strftime("%m-%d-%y", time.localtime(
            os.stat(self.site.path(f"ftp-data/users/{name}")).st_ctime))
        general = [int(v) for v in field(f, "general", "0 0 0 0").split()]
        logins = [int(v) for v in field(f, "logins", "0 0 -1 -1").split()]
        ratio = field(f, "ratio", 0)

        def number(value, unlimited):
            return "Unlimited" if unlimited else str(value)

        lines = [" User Comment: " + field(f, "comment", "test account")] if comment else []
        lines += [
            " +=======================================================================+",
            " | Username: %-24s Created: %-26s|" % (name, created),
            " | Time On Today: %-15s     Last seen: %-24s|" % (
                "0m 0s", time.strftime("%a %b %d %H:%M:%S %Y", time.localtime(last))),
            " | Flags: %-27s Permissions: %-22s|" % (field(f, "flags", ""), "lvcpstduoamnrwx"),
            " | Ratio: %-27s Credits: %10.2f MB             |" % (
                "1:%d" % ratio if ratio else "Unlimited", field(f, "credits", 0) / 1024),
            " | Total Logins: %-20u Current Logins: %-19u|" % (count, 0),
            " | Max Logins: %-10s             From Same IP: %-10s           |" % (
                number(general[1], general[1] <= 0), number(logins[1], logins[1] == 0)),
            " | Max Sim Uploads: %-10s        Max Sim Downloads: %-10s      |" % (
                number(logins[3], logins[3] < 0), number(logins[2], logins[2] < 0)),
            " | Max Upload Speed: %7.1f K/s      Max Download Speed: %7.1f K/s    |" % (
                general[3] / 1024, general[2] / 1024),
            " | Times Nuked: %-7u               Bytes Nuked: %7u MB            |" % tuple(
                int(v) for v in field(f, "nuke", "0 0 0").split()[1:]),
            " | Weekly Allotment: %7.1f MB       Messages Waiting: N                |" % (
                general[0] / 1024),
            " | Time Limit: %4u minutes.          (0 = Unlimited)                    |" % int(
                field(f, "time_line", "0 0 0 0").split()[2]),
            " | Gadmin/Leech Slots: %2d %2d          (-1 = Unlimited, None)             |" % tuple(
                int(v) for v in field(f, "slots", "0 0").split()),
            " | Timeframe: %2u %2u  (0 0 = Anytime)  Max Idle Time: %7u seconds.    |" % (
                *(int(v) for v in field(f, "timeframe", "0 0").split()), field(f, "idle", 0)),
            " | Tagline: %-61s|" % field(f, "tagline", "none"),
            " | Group: %-63s|" % field(f, "group", "users"),
            " +-----------------------------------------------------------------------+",
        ]
        if masks:
            ips = list(field(f, "ips", ("*",))) + [""] * 10
            lines += [" | IP%d: %-29s IP%d: %-30s|" % (i, ips[i], i + 1, ips[i + 1])
                      for i in range(0, 10, 2)]
            lines.append(" +=======================================================================+")
        return cont(lines) + ["200 Command successful."]

    def test_user_report(self):
        a = self.login()
        self.assertEqual(self.ask(a, "SITE USER ann"), self.user_report("ann", True, True))
        ann = self.ask(a, "SITE USER ann")
        self.assertEqual(ann[4], "200- | Flags:                             Permissions: lvcpstduoamnrwx       |")
        self.assertEqual(ann[7], "200- | Max Logins: 2                      From Same IP: 1                    |")
        self.assertEqual(ann[8], "200- | Max Sim Uploads: Unlimited         Max Sim Downloads: 3               |")
        # Negative credits keep their sign.
        self.assertIn("Credits:      -3.00 MB", self.ask(a, "SITE USER neg")[5])
        g = self.login("gadm")
        self.assertEqual(self.ask(g, "SITE USER ann"), self.user_report("ann", False, True))
        self.assertEqual(self.ask(g, "SITE USER cat"), self.user_report("cat", False, False))
        p = self.login("plain")
        self.assertEqual(self.ask(p, "SITE USER ANN"), self.user_report("ann", False, False))
        mine = self.ask(p, "SITE USER plain")
        self.assertRegex(mine[2], r"^200- \| Time On Today: 0m \d+s +Last seen: ")
        self.assertRegex(mine[5], r"Current Logins: [1-9] ")
        self.assertEqual(mine[-7:], self.user_report("plain", False, True)[-7:])
        self.assertEqual(self.ask(p, "SITE USER ghost"), ["501 User 'ghost' does not exist."])

    def test_user_listing(self):
        local = [n for n, f in self.order if "$" not in n and "6" not in field(f, "flags", "")]
        shared = [n for n, f in self.order if "$" in n]
        lines = [" -=[ Orvex User Listing ]=-", ""]
        for i in range(0, len(local), 4):
            lines.append("".join(" %-16s" % n for n in local[i:i + 4]))
        lines.append("".join(" %-33s" % n for n in shared))
        lines += ["", " - Use SITE USER <username> for a more informative listing. -", ""]
        expected = cont(lines) + [f"200 {len(local) + len(shared)} total users on site."]
        self.assertEqual(self.ask(self.login(), "SITE USER"), expected)
        self.assertEqual(self.ask(self.login("gadm"), "SITE USER"), expected)
        self.assertEqual(self.ask(self.login("plain"), "SITE USER"), [NO_ACCESS])

    def test_users(self):
        def row(name):
            f = self.fields_of(name)
            amounts = "UL:%7uMB    DL:%7uMB    Credit:%7dMB" % (
                stat(f, "ALLUP")[1] // 1024, stat(f, "ALLDN")[1] // 1024,
                (field(f, "credits", 0) + 512) // 1024)
            if "$" in name:
                return " %-25s %s" % (name, amounts)
            return " %-14s %-10s %s" % (name, field(f, "group", "users"), amounts)

        def expected(names, deleted):
            chosen = [self.fields_of(n) for n in names]
            lines = [" Detailed User Listing..."] + [row(n) for n in names] + [
                " Uploaded:%8uMB Downloaded:%9uMB FilesUp:%6u FilesDown:%6u" % (
                    sum(stat(f, "ALLUP")[1] // 1024 for f in chosen),
                    sum(stat(f, "ALLDN")[1] // 1024 for f in chosen),
                    sum(stat(f, "ALLUP")[0] for f in chosen),
                    sum(stat(f, "ALLDN")[0] for f in chosen)),
                " SITEOPS=%u, GADMINS=%u, LEECH=%u, DELETED=%u" % (
                    sum("1" in field(f, "flags", "") for f in chosen),
                    sum("2" in field(f, "flags", "") for f in chosen),
                    sum(field(f, "ratio", 0) == 0 for f in chosen), deleted)]
            return cont(lines) + [f"200 {len(names)} Total members."]

        names = [n for n, _ in self.order]
        local = [n for n in names if "$" not in n]
        alive = [n for n in names if "6" not in field(self.fields_of(n), "flags", "")]
        c = self.login("lister")
        cases = [
            ("", [n for n in alive if "$" not in n] + [n for n in alive if "$" in n], 1),
            (" local", local, 1),
            (" REMOTE", [n for n in names if "$" in n], 0),
            (" 1", ["orvex"], 1),
            (" =BETA", ["cat", "gone", "neg", "sam$10.0.0.5$21"], 1),
            (" t*", ["tie1", "tie2", "tie3", "tie4"], 1),
            (" g*", ["gadm"], 1),
        ]
        for selector, chosen, deleted in cases:
            self.assertEqual(self.ask(c, "SITE USERS" + selector), expected(chosen, deleted),
                             selector)
        lines = self.ask(c, "SITE USERS =beta")
        self.assertEqual(lines[3], "200- neg            beta       UL:      0MB    DL:      2MB"
                                   "    Credit:     -3MB")
        self.assertEqual(self.ask(c, "SITE USERS remote")[2],
                         "200- samantha$fileserver.example.org$2121 UL:      0MB    DL:    117MB"
                         "    Credit:     -1MB")
        self.assertEqual(self.ask(self.login("plain"), "SITE USERS"), [NO_ACCESS])
