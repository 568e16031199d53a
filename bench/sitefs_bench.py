#!/usr/bin/env python3
"""SITE commands on a big tree, run by hand (not part of the test suite).

Builds a tree of 100,000 files in 1,000 directories with a record for every directory and file
(owned by ten users), starts orvex on it and times SITE DIRINFO -R, SEARCH (a walk of the whole
tree), NUKE and WIPE, and for comparison the system's rm -rf of the same tree. Meanwhile a second session keeps making and removing a directory and
asking SITE FSINFO; the longest of its round trips during each command shows whether the
command held up other sessions.

    bench/sitefs_bench.py [--bin-dir build/bin] [--dirs 1000] [--files 100] [--settle 40] [--tmp DIR] [--no-rm]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

PASSWORD = "benchpw"
OWNERS = range(201, 211)


def build_tree(site, top, dirs, files, first_id):
    """A tree under site/<top> and its records; returns the orvex.fs lines."""
    root = site.path("site")
    lines = [f"{root}/{top};{first_id};rwxrwxrwx;201;100;;0;0"]
    for d in range(dirs):
        rel = f"{top}/g{d // 100:02d}/rel{d:04d}"
        path = os.path.join(root, rel)
        os.makedirs(path, exist_ok=True)
        dir_id = first_id + 1 + d
        owner = OWNERS[d % len(OWNERS)]
        lines.append(f"{root}/{rel};{dir_id};rwxrwxrwx;{owner};100;;0;0")
        entries = []
        for f in range(files):
            name = f"file{f:03d}.bin"
            with open(os.path.join(path, name), "wb") as out:
                out.write(b"x" * 1024)
            entries.append(f"{name};rw-r--r--;{OWNERS[f % len(OWNERS)]};100;1024;0")
        site.write(f"fs/{dir_id}.fs", "\n".join(entries) + "\n")
    return lines


class Prober(threading.Thread):
    """Another session's commands, timed one by one."""

    def __init__(self, port):
        super().__init__(daemon=True)
        from harness import RawClient
        self.client = RawClient(port, timeout=120)
        self.client.reply()
        self.client.cmd("USER orvex")
        self.client.send(f"PASS {PASSWORD}\r\n")
        self.client.reply()
        self.samples = []  # (start, seconds)
        self.running = True

    def run(self):
        n = 0
        while self.running:
            for command in (f"MKD probe{n}", f"RMD probe{n}", "SITE FSINFO"):
                start = time.perf_counter()
                self.client.send(command + "\r\n")
                self.client.reply()
                self.samples.append((start, time.perf_counter() - start))
            n += 1

    def longest(self, start, end):
        during = [s for t, s in self.samples if start <= t <= end]
        return max(during) if during else 0.0


def timed(client, prober, command):
    start = time.perf_counter()
    client.send(command + "\r\n")
    reply = client.reply()
    end = time.perf_counter()
    return end - start, prober.longest(start, end), reply[-1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", default=os.path.join(HERE, "..", "build", "bin"))
    parser.add_argument("--dirs", type=int, default=1000)
    parser.add_argument("--files", type=int, default=100)
    parser.add_argument("--settle", type=float, default=40)
    parser.add_argument("--tmp", default=None, help="where the site goes (e.g. /dev/shm)")
    parser.add_argument("--no-rm", action="store_true", help="leave out the rm -rf comparison")
    args = parser.parse_args()
    os.environ["ORVEX_BIN_DIR"] = os.path.abspath(args.bin_dir)
    import harness
    harness.BIN_DIR = os.environ["ORVEX_BIN_DIR"]
    from harness import RawClient
    from orvex_support import OrvexSite
    from vfs_support import user_file

    tmp = tempfile.mkdtemp(prefix="orvex-sitefsbench-", dir=args.tmp)
    server = None
    try:
        site = OrvexSite(tmp)
        site.set_password("orvex", PASSWORD)
        passwd = site.read("etc/passwd")
        for uid in OWNERS:
            passwd += f"u{uid};;{uid};100;01-01-25;./site/\n"
            site.write(f"ftp-data/users/u{uid}", user_file(ratio=1, credits=10 ** 6))
        site.write("etc/passwd", passwd)
        started = time.perf_counter()
        lines = build_tree(site, "big", args.dirs, args.files, 1)
        lines += build_tree(site, "wipe", args.dirs, args.files, 10 * args.dirs)
        # The same tree once more, without records, for the system's own rm -rf to compare with.
        if not args.no_rm:
            build_tree(site, "plain", args.dirs, args.files, 20 * args.dirs)
        site.write("fs/orvex.fs", "\n".join(lines) + "\n")
        # The tree on disk, as a site's tree would be, not still waiting in the page cache: the
        # kernel writes dirty pages back after 30 s.
        time.sleep(args.settle)
        print(f"tree: 3 x {args.dirs * args.files} files in {args.dirs} directories, "
              f"built in {time.perf_counter() - started:.1f} s")

        server = site.start()
        port = server.ready(timeout=120)
        client = RawClient(port, timeout=600)
        client.reply()
        client.cmd("USER orvex")
        client.send(f"PASS {PASSWORD}\r\n")
        client.reply()
        prober = Prober(port)
        prober.start()
        time.sleep(1)
        baseline = max(s for _, s in prober.samples)
        print(f"other session, longest round trip when idle: {baseline * 1000:.1f} ms")
        for command in ("SITE DIRINFO -R big", "SITE SEARCH -f -1000000 {big} *.none",
                        "SITE NUKE {big} 1", "SITE WIPE wipe"):
            seconds, longest, last = timed(client, prober, command)
            print(f"{command:40s} {seconds:6.2f} s   other session at most "
                  f"{longest * 1000:7.1f} ms   ({last[:60]})")
        prober.running = False
        prober.join(10)
        if not args.no_rm:
            start = time.perf_counter()
            subprocess.run(["rm", "-rf", site.path("site/plain")], check=True)
            print(f"{'rm -rf of the same tree':40s} {time.perf_counter() - start:6.2f} s")
    finally:
        if server:
            server.kill()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
