#!/usr/bin/env python3
"""Cost of the filesystem journal on the reply path, run by hand (not part of the test suite).

Times 10,000 MKD in a row, 10,000 small uploads and the reply to a 1 MiB upload (from the end
of its data to "226", median of 50) for each server given: the one built here with each
journal_sync value asked for, and optionally a build without the journal (--base-bin-dir) as
today's reference.

    bench/journal_bench.py [--bin-dir build/bin] [--base-bin-dir DIR] [--modes second,always]
                           [--count 10000]
"""

import argparse
import ftplib
import io
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

PASSWORD = "benchpw"


def start(bin_dir, tmp, journal_sync):
    os.environ["ORVEX_BIN_DIR"] = os.path.abspath(bin_dir)
    from orvex_support import OrvexSite
    site = OrvexSite(tmp)
    site.set_password("orvex", PASSWORD)
    keys = {"fs_sync_freq": "0", "default_homedir": "./site/"}
    if journal_sync:
        keys["journal_sync"] = journal_sync
    site.set_conf(**keys)
    server = site.start()
    return server, server.ready()


def client(port):
    f = ftplib.FTP()
    f.connect("127.0.0.1", port, timeout=60)
    f.login("orvex", PASSWORD)
    return f


def figures(port, count):
    f = client(port)
    start = time.perf_counter()
    for i in range(count):
        f.mkd(f"d{i}")
    mkd = time.perf_counter() - start
    f.cwd("d0")
    start = time.perf_counter()
    for i in range(count):
        f.storbinary(f"STOR s{i}.bin", io.BytesIO(b"s" * 100))
    small = time.perf_counter() - start
    waits = []
    data = b"m" * (1 << 20)
    for i in range(50):
        conn = f.transfercmd(f"STOR big{i}.bin")
        conn.sendall(data)
        conn.close()
        sent = time.perf_counter()
        f.voidresp()
        waits.append(time.perf_counter() - sent)
    f.quit()
    return mkd, small, statistics.median(waits) * 1000


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", default=os.path.join(HERE, "..", "build", "bin"))
    ap.add_argument("--base-bin-dir")
    ap.add_argument("--modes", default="second")
    ap.add_argument("--count", type=int, default=10000)
    args = ap.parse_args()
    runs = [(f"journal_sync {m}", args.bin_dir, m) for m in args.modes.split(",")]
    if args.base_bin_dir:
        runs.insert(0, ("without journal", args.base_bin_dir, None))
    print(f"{'server':<22} {args.count} MKD   {args.count} uploads   1 MiB upload reply")
    for label, bin_dir, mode in runs:
        tmp = tempfile.mkdtemp(prefix="orvex-jbench-")
        try:
            server, port = start(bin_dir, tmp, mode)
            mkd, small, wait = figures(port, args.count)
            server.stop()
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
        print(f"{label:<22} {mkd:8.2f} s {small:10.2f} s {wait:14.2f} ms")


if __name__ == "__main__":
    main()
