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


TITLES = {
    "ALDN": ("[ Top AllTime Downloaders ]", 22, "ALLDN", 0),
    "ALUP": ("[ Top AllTime Uploaders ]", 23, "ALLUP", 0),
    "DAYDN": ("[ Top Downloaders For Today ]", 21, "DAYDN", 2),
    "DAYUP": ("[ Top Uploaders For Today ]", 22, "DAYUP", 2),
    "WKDN": ("[ Top Downloaders For This Week ]", 19, "WKDN", 2),
    "WKUP": ("[ Top Uploaders For This Week ]", 20, "WKUP", 2),
    "MONTHDN": ("[ Top Downloaders For This Month ]", 18, "MONTHDN", 1),
    "MONTHUP": ("[ Top Uploaders For This Month ]", 19, "MONTHUP", 1),
    "GPAD": ("[ Top Group AllTime Downloaders ]", 19, "ALLDN", None),
    "GPAL": ("[ Top Group AllTime Uploaders ]", 20, "ALLUP", None),
    "GPMD": ("[ Top Group Downloaders For This Month ]", 15, "MONTHDN", None),
    "GPMN": ("[ Top Group Uploaders For This Month ]", 16, "MONTHUP", None),
    "GPWD": ("[ Top Group Downloaders For This Week ]", 16, "WKDN", None),
    "GPWK": ("[ Top Group Uploaders For This Week ]", 17, "WKUP", None),
}
GROUPS = (("alpha", "Alpha crew of the northern hills", 160, 0), ("beta", "Beta team", 161, 0),
          ("ties", "Tied users", 162, 0), ("empty", "Nobody here", 163, 0))
FRAME = ["200- |" + "-" * 71 + "|", "200- `" + "-" * 71 + "'", "200 Command successful."]


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
        if keys[kept[at]] < key:
            kept.pop(at)
            kept.append(i)
    out = []
    while kept:
        out.append(kept.pop(max(range(len(kept)), key=lambda j: (keys[kept[j]], -j))))
    return out


def cont(lines):
    return ["200-" + line for line in lines]


class SiteReports(SiteAdminCase):
    users = {name: {} for name in ("gadm", "plain", "lister")}
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
            cls.fields = dict(cls.order)
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

    def chosen(self, kind):
        return [(n, f) for n, f in self.order if kind == 0 or (kind == 1) == ("$" not in n)]

    def top(self, command, count=10, kind=0):
        title, dashes, key, decimals = TITLES[command]
        right = 73 - dashes - len(title) - 2
        lines = [" ." + "-" * dashes + title + "-" * right + "."]
        if decimals is None:
            word = "Up" if key.endswith("UP") else "Dn"
            lines.append(f" | ## Group Abb.       Group Desc.               Files {word}  Megabytes  M# |")
            groups = [("users", "Users"), ("siteops", "Site operators")] + [g[:2] for g in GROUPS]
            totals = []
            for group, description in groups:
                members = [f for _, f in self.order if f.get("group", "users") == group]
                totals.append((group[:16], description[:25],
                               sum(stat(f, key)[0] for f in members),
                               sum(stat(f, key)[1] // 1024 for f in members), len(members)))
            rows = [" [%02d] %-16s %-25s %8u %8uMB %3u" % (place, *totals[at])
                    for place, at in enumerate(rank([t[3] for t in totals], count), 1)]
        else:
            lines.append(" | ## User              Tagline                Files  Megabytes  Avg k/s |")
            users = self.chosen(kind)
            rows = []
            for place, at in enumerate(rank([stat(f, key)[1] for _, f in users], count), 1):
                name, f = users[at]
                files, kb, secs = stat(f, key)
                mb = "%8u" % (kb // 1024) if decimals == 0 else "%8.*f" % (decimals, kb / 1024)
                rows.append(" [%02d] %-17s %-21s %6u %sMB %5uk/s" % (
                    place, name[:17], f.get("tagline", "none")[:21], files, mb, kb // (secs + 1)))
        return cont(lines) + FRAME[:1] + cont(rows) + FRAME[1:]

    def test_top_lists(self):
        c = self.login("plain")
        for command in TITLES:
            group = command.startswith("GP")
            for args, count, kind in (("", 10, 0), (" 3", 3, 0), (" 150", 99, 0),
                                      (" local", 10, 1), (" 5 remote", 5, 2), (" other", 10, 0)):
                self.assertEqual(self.ask(c, f"SITE {command}{args}"),
                                 self.top(command, count, 0 if group else kind), command + args)
        # What the expectations rest on, spelled out: ties keep the store order, no seconds
        # divide by 1, names and descriptions are cut, deleted members count.
        self.assertEqual(self.ask(c, "SITE DAYUP 3")[3:6], [
            "200- [01] tie1              none                       1     8.79MB  4500k/s",
            "200- [02] tie2              none                       1     8.79MB  4500k/s",
            "200- [03] tie3              none                       1     8.79MB  4500k/s"])
        self.assertEqual(self.ask(c, "SITE ALDN")[6],
                         "200- [04] ann               first-lady                 5       10MB 10240k/s")
        self.assertEqual(self.ask(c, "SITE MONTHDN remote")[3],
                         "200- [01] samantha$fileserv none                       3      2.9MB   750k/s")
        self.assertEqual(self.ask(c, "SITE GPAL 1")[1:4], [
            "200- | ## Group Abb.       Group Desc.               Files Up  Megabytes  M# |",
            FRAME[0], "200- [01] beta             Beta team                       11     1095MB   4"])
        self.assertIn("Alpha crew of the norther ", self.ask(c, "SITE GPMD 1")[3])
        self.assertEqual(self.ask(c, "SITE GPWK")[1],
                         "200- | ## Group Abb.       Group Desc.               Files Up  Megabytes  M# |")
        self.assertEqual(len(self.ask(c, "SITE ALUP 150")), 3 + len(self.order) + 2)

    def test_nuketop(self):
        c = self.login("plain")
        head = cont([" .--------------------------[ Top Nuked Users ]--------------------------.",
                     " | ## User                  Group            Times Nuked     Bytes Nuked |"])
        for args, count, kind in (("", 10, 0), (" local", 10, 1), (" 1 remote", 1, 2)):
            users = self.chosen(kind)
            nukes = [[int(v) for v in f.get("nuke", "0 0 0").split()[1:]] for _, f in users]
            rows = [" [%02d] %-21s %-16s %11u    %10uMB" % (
                place, users[at][0][:21], users[at][1].get("group", "users"), *nukes[at])
                for place, at in enumerate(rank([n[1] for n in nukes], count), 1)]
            self.assertEqual(self.ask(c, "SITE NUKETOP" + args),
                             head + FRAME[:1] + cont(rows) + FRAME[1:], args)
        self.assertEqual(self.ask(c, "SITE NUKETOP 2")[3:5], [
            "200- [01] bob                   alpha                      5          1000MB",
            "200- [02] samantha$fileserver.e alpha                      3           700MB"])

    def test_stats_and_traffic(self):
        def expected(name):
            f = self.fields[name]
            lines = [" +-------------------------------[ STATS ]-------------------------------+",
                     " |               - FILES -            - BYTES -          - AVG RATE -    | "]
            for label, key in (("ALLTIME UP", "ALLUP"), ("ALLTIME DOWN", "ALLDN"),
                               ("MONTH UP", "MONTHUP"), ("MONTH DOWN", "MONTHDN"),
                               ("WEEK UP", "WKUP"), ("WEEK DOWN", "WKDN"), ("DAY UP", "DAYUP"),
                               ("DAY DOWN", "DAYDN")):
                files, kb, secs = stat(f, key)
                lines.append(" | %-12s %10u         %10uMB         %10uK/s    |" % (
                    label, files, (kb + 512) // 1024, int(kb / secs + 0.5) if secs else 0))
            lines.append(" +" + "-" * 71 + "+")
            return cont(lines) + ["200 Command Successful."]

        p = self.login("plain")
        self.assertEqual(self.ask(p, "SITE STATS"), expected("plain"))
        self.assertEqual(self.ask(p, "SITE STATS PLAIN"), expected("plain"))
        self.assertEqual(self.ask(p, "SITE STATS ann"), [NO_ACCESS])
        a = self.login()
        ann = self.ask(a, "SITE STATS Ann")
        self.assertEqual(ann, expected("ann"))
        # A period of 0 seconds shows no rate instead of dividing by zero.
        self.assertEqual(ann[3], "200- | ALLTIME DOWN          5                 10MB                  0K/s    |")
        self.assertEqual(self.ask(a, "SITE STATS cat"), expected("cat"))
        self.assertEqual(self.ask(a, "SITE STATS ghost"), ["501 User 'ghost' does not exist."])

        lines = [" .-=" + "-" * 46 + "=-.", " |                Traffic Statistics                |",
                 " |-=" + "-" * 46 + "=-|", " | Totals          |   Files |     Megs | Avg Speed |",
                 " |-=" + "-" * 46 + "=-|"]
        for label, key in (("Total Uploads", "ALLUP"), ("Total Downloads", "ALLDN"),
                           ("Month Uploads", "MONTHUP"), ("Month Downloads", "MONTHDN"),
                           ("Week Uploads", "WKUP"), ("Week Downloads", "WKDN"),
                           ("Day Uploads", "DAYUP"), ("Day Downloads", "DAYDN")):
            files, kb, secs = (sum(stat(f, key)[i] for _, f in self.order) for i in range(3))
            lines.append(" | %-15s | %7.0f | %8.0f | %5.0f K/s |" % (
                label, files, kb / 1024, kb / (secs + 0.1)))
        lines.append(" `-=" + "-" * 46 + "=-'")
        self.assertEqual(self.ask(p, "SITE TRAFFIC"), cont(lines) + ["200 Command Successful."])
        self.assertEqual(lines[5], " | Total Uploads   |      42 |     1155 |  1007 K/s |")

    def test_user(self):
        created = time.strftime("%m-%d-%y", time.localtime(
            os.stat(self.site.path("ftp-data/users/ann")).st_ctime))
        seen = time.strftime("%a %b %d %H:%M:%S %Y", time.localtime(NOW))
        ann = cont([
            " User Comment: Ann of alpha",
            " +=======================================================================+",
            " | Username: ann                      Created: %-26s|" % created,
            " | Time On Today: 0m 0s               Last seen: %-24s|" % seen,
            " | Flags:                             Permissions: lvcpstduoamnrwx       |",
            " | Ratio: 1:3                         Credits:       2.00 MB             |",
            " | Total Logins: 7                    Current Logins: 0                  |",
            " | Max Logins: 2                      From Same IP: 1                    |",
            " | Max Sim Uploads: Unlimited         Max Sim Downloads: 3               |",
            " | Max Upload Speed:    32.0 K/s      Max Download Speed:    64.0 K/s    |",
            " | Times Nuked: 2                     Bytes Nuked:     300 MB            |",
            " | Weekly Allotment:     5.0 MB       Messages Waiting: N                |",
            " | Time Limit:   90 minutes.          (0 = Unlimited)                    |",
            " | Gadmin/Leech Slots: -1  2          (-1 = Unlimited, None)             |",
            " | Timeframe:  8 20  (0 0 = Anytime)  Max Idle Time:     600 seconds.    |",
            " | Tagline: first-lady                                                   |",
            " | Group: alpha                                                          |",
            " +-----------------------------------------------------------------------+",
            " | IP0: 10.0.0.*                      IP1: 192.168.1.1                   |",
            " | IP2:                               IP3:                               |",
            " | IP4:                               IP5:                               |",
            " | IP6:                               IP7:                               |",
            " | IP8:                               IP9:                               |",
            " +=======================================================================+",
        ]) + ["200 Command successful."]
        a = self.login()
        self.assertEqual(self.ask(a, "SITE USER ann"), ann)
        # Negative credits keep their sign.
        self.assertIn("Credits:      -3.00 MB", self.ask(a, "SITE USER neg")[5])
        # A group administrator sees the masks of the own group only, a user only the own ones.
        g = self.login("gadm")
        self.assertEqual(self.ask(g, "SITE USER ann"), ann[1:])
        self.assertEqual(len(self.ask(g, "SITE USER cat")), len(ann) - 7)
        p = self.login("plain")
        self.assertEqual(self.ask(p, "SITE USER ANN"), ann[1:-7] + ann[-1:])
        mine = self.ask(p, "SITE USER plain")
        self.assertRegex(mine[2], r"^200- \| Time On Today: 0m \d+s +Last seen: ")
        self.assertRegex(mine[5], r"Current Logins: [1-9] ")
        self.assertEqual(mine[-7], "200- | IP0: *                             IP1: "
                                   "                              |")
        self.assertEqual(self.ask(p, "SITE USER ghost"), ["501 User 'ghost' does not exist."])

        local = [n for n, f in self.order if "$" not in n and "6" not in f.get("flags", "")]
        shared = [n for n, f in self.order if "$" in n]
        lines = [" -=[ Orvex User Listing ]=-", ""]
        lines += ["".join(" %-16s" % n for n in local[i:i + 4]) for i in range(0, len(local), 4)]
        lines += ["".join(" %-33s" % n for n in shared), "",
                  " - Use SITE USER <username> for a more informative listing. -", ""]
        listing = cont(lines) + [f"200 {len(local) + len(shared)} total users on site."]
        self.assertEqual(self.ask(a, "SITE USER"), listing)
        self.assertEqual(self.ask(g, "SITE USER"), listing)
        self.assertEqual(self.ask(p, "SITE USER"), [NO_ACCESS])

    def test_users(self):
        def expected(names, deleted):
            chosen = [self.fields[n] for n in names]
            rows = []
            for name, f in zip(names, chosen):
                amounts = "UL:%7uMB    DL:%7uMB    Credit:%7dMB" % (
                    stat(f, "ALLUP")[1] // 1024, stat(f, "ALLDN")[1] // 1024,
                    (f.get("credits", 0) + 512) // 1024)
                rows.append(" %-25s %s" % (name, amounts) if "$" in name else
                            " %-14s %-10s %s" % (name, f.get("group", "users"), amounts))
            sums = [sum(stat(f, key)[i] // (1024 if i else 1) for f in chosen)
                    for i, key in ((1, "ALLUP"), (1, "ALLDN"), (0, "ALLUP"), (0, "ALLDN"))]
            counts = [sum(flag in f.get("flags", "") for f in chosen) for flag in "12"]
            lines = [" Detailed User Listing..."] + rows + [
                " Uploaded:%8uMB Downloaded:%9uMB FilesUp:%6u FilesDown:%6u" % tuple(sums),
                " SITEOPS=%u, GADMINS=%u, LEECH=%u, DELETED=%u" % (
                    *counts, sum(f.get("ratio", 0) == 0 for f in chosen), deleted)]
            return cont(lines) + [f"200 {len(names)} Total members."]

        names = [n for n, _ in self.order]
        alive = [n for n in names if "6" not in self.fields[n].get("flags", "")]
        c = self.login("lister")
        for selector, chosen, deleted in (
                ("", [n for n in alive if "$" not in n] + [n for n in alive if "$" in n], 1),
                (" local", [n for n in names if "$" not in n], 1),
                (" REMOTE", [n for n in names if "$" in n], 0),
                (" 1", ["orvex"], 1), (" =BETA", ["cat", "gone", "neg", "sam$10.0.0.5$21"], 1),
                (" t*", ["tie1", "tie2", "tie3", "tie4"], 1), (" g*", ["gadm"], 1)):
            self.assertEqual(self.ask(c, "SITE USERS" + selector), expected(chosen, deleted),
                             selector)
        self.assertEqual(self.ask(c, "SITE USERS =beta")[3], "200- neg            beta       "
                         "UL:      0MB    DL:      2MB    Credit:     -3MB")
        self.assertEqual(self.ask(c, "SITE USERS remote")[2],
                         "200- samantha$fileserver.example.org$2121 UL:      0MB    DL:    117MB"
                         "    Credit:     -1MB")
        self.assertEqual(self.ask(self.login("plain"), "SITE USERS"), [NO_ACCESS])
