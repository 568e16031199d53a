#!/usr/bin/env python3
"""LIST (or MLSD) speed with owners, run by hand (not part of the test suite).

Lists a directory of 10,000 files, every one with an owner record, from orvex (owners and groups
from the records) and from vantor (no records) over loopback with ftplib, and prints the median
time of each and their ratio.

    bench/list_bench.py [--bin-dir build/bin] [--files 10000] [--rounds 21] [--command MLSD]
"""

import argparse
import ftplib
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))


def median_list_seconds(port, user, password, path, rounds, command="LIST"):
    f = ftplib.FTP()
    f.connect("127.0.0.1", port, timeout=60)
    f.login(user, password)
    times, count = [], 0
    for _ in range(rounds):
        lines = []
        start = time.perf_counter()
        f.retrlines(f"{command} {path}", lines.append)
        times.append(time.perf_counter() - start)
        count = len(lines)
    f.quit()
    return statistics.median(times), count


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin-dir", default=os.path.join(HERE, "..", "build", "bin"))
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=21)
    parser.add_argument("--command", default="LIST", choices=("LIST", "MLSD"))
    args = parser.parse_args()
    os.environ["ORVEX_BIN_DIR"] = os.path.abspath(args.bin_dir)
    import harness
    harness.BIN_DIR = os.environ["ORVEX_BIN_DIR"]
    from orvex_support import OrvexSite
    from vantor_support import Vantor

    tmp = tempfile.mkdtemp(prefix="orvex-listbench-")
    try:
        site = OrvexSite(tmp)
        site.set_password("orvex", "benchpw")
        big = site.path("site/big")
        os.makedirs(big)
        names = [f"some.release.name-group.r{i:05d}" for i in range(args.files)]
        for n in names:
            with open(os.path.join(big, n), "wb") as f:
                f.write(b"x" * 100)
        site.write("fs/orvex.fs", f"{big};1;rwxr-xr-x;101;101;;0;0\n")
        site.write("fs/1.fs", "".join(f"{n};rw-r--r--;101;101;100;0\n" for n in names))

        orvex = site.start()
        try:
            port = orvex.ready()
            o_time, o_lines = median_list_seconds(port, "orvex", "benchpw", "big", args.rounds,
                                                 args.command)
        finally:
            orvex.stop()
        vantor = Vantor(["-Ubench", "-Pbenchpw", "-H" + site.path("site"), "-Rlr"], tmp)
        try:
            v_time, v_lines = median_list_seconds(vantor.port, "bench", "benchpw", "big",
                                                  args.rounds, args.command)
        finally:
            vantor.stop()
        print(f"{args.command} of {args.files} files, median of {args.rounds}:")
        print(f"  orvex (owners from records): {o_time * 1000:8.1f} ms  ({o_lines} lines)")
        print(f"  vantor:                      {v_time * 1000:8.1f} ms  ({v_lines} lines)")
        print(f"  ratio orvex / vantor: {o_time / v_time:.2f}")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
