#!/usr/bin/env python3
"""Many sessions, listings and transfers, run by hand (not part of the test suite).

Runs orvex, vantor and vsftpd (when installed) on loopback, one after the other in alternating
rounds, each started afresh for its turn, and measures:

- with N idle logged-in sessions held (asyncio, spread over 127.0.0.x source addresses): the
  time to open them, the latency of one more login while they are held (USER to "230", and
  connect to "230"; median) and the memory per idle session (the server's RSS delta / N);
- LIST and MLSD of a directory of F files (orvex with an owner record per file, vantor);
- the tail of a large STOR: from the last byte reaching the file to "226", and from the end of
  the client's data to "226" (median of every try);
- plain RETR throughput of a large file.

Each figure is the best of the rounds (latencies and RETR: the median of all samples), so that
load elsewhere on the machine does not decide a comparison; the issue's targets are checked at the
end. vsftpd runs two processes per session, so it holds sessions only with --vsftpd-sessions.
The bench raises its own limit of open files (the servers inherit it) and lifts the servers'
pre-login and user limits; everything it writes goes to a temporary folder.

    bench/sessions_bench.py [--bin-dir build/bin] [--sessions 10000] [--files 10000]
                            [--upload-mib 512] [--rounds 3] [--json FILE]
"""

import sys

# Imported from bench/ and tests/e2e/: leave no byte-code behind in the checkout.
sys.dont_write_bytecode = True

import argparse  # noqa: E402
import asyncio  # noqa: E402
import json  # noqa: E402
import os  # noqa: E402
import resource  # noqa: E402
import select  # noqa: E402
import shutil  # noqa: E402
import socket  # noqa: E402
import statistics  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402
import unittest  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import harness  # noqa: E402
from harness import RawClient  # noqa: E402
from list_bench import median_list_seconds  # noqa: E402
from orvex_support import OrvexSite  # noqa: E402
from remote_support import Vsftpd, passive  # noqa: E402
from transfer_bench import process_rss_kib, tree_pids  # noqa: E402
from vantor_support import Vantor  # noqa: E402

USER, PASSWORD = "orvex", "Bench1pw"
BLOCK = 1 << 20
# Rows of the table that the targets read.
OPEN, LOGIN = "open the sessions (s)", "one more login USER..230 (ms)"
MEMORY = "KiB per idle session"
TAIL, RETR = "STOR last byte in file..226 (ms)", "RETR plain (MB/s)"


# --- servers -----------------------------------------------------------------------------------

class Turn:
    """One server started for one round's turn: where to reach it and how to stop it."""

    def __init__(self, name, port, user, password, pid, stop):
        self.name, self.port, self.user, self.password = name, port, user, password
        self.pid, self.stop = pid, stop


def start_orvex(site):
    proc = site.start()
    try:
        port = proc.ready()
    except BaseException:
        proc.kill()
        raise
    # As vantor's -L3: nobody reads the console while sessions open; the log files still fill.
    proc.drain_unread()
    return Turn("orvex", port, USER, PASSWORD, proc.proc.pid, proc.kill)


def start_vantor(home, logs, limit):
    # -L3 keeps the screen quiet (nobody reads it while sessions open) and logs to files, as
    # orvex does; -n and -w keep name look-ups and pre-login limits out of the figures.
    server = Vantor([f"-U{USER}", f"-P{PASSWORD}", f"-H{home}", "-Rrwx", f"-L3:{logs}", "-n",
                     f"-w{limit}:{limit}"], logs, quiet=True)
    return Turn("vantor", server.port, USER, PASSWORD, server.proc.pid, server.stop)


def start_vsftpd(work, root):
    server = Vsftpd(work, root)
    return Turn("vsftpd", server.port, "anonymous", "x", server.proc.pid, server.stop)


def prepare_orvex(work, limit):
    site = OrvexSite(work)
    site.set_password(USER, PASSWORD)
    site.set_conf(max_users=f"{limit} 5", max_pending_per_ip=limit, max_pending=limit)
    return site


def write_tree(root, files, retr_mib):
    """The shared root: a directory of `files` files (with orvex's owner records written by
    `owner_records`), the file to download, and pub/ for uploads (vsftpd needs it writable)."""
    big = os.path.join(root, "big")
    os.makedirs(big)
    names = [f"some.release.name-group.r{i:05d}" for i in range(files)]
    for n in names:
        with open(os.path.join(big, n), "wb") as f:
            f.write(b"x" * 100)
    block = os.urandom(BLOCK)
    with open(os.path.join(root, "data.bin"), "wb") as f:
        for _ in range(retr_mib):
            f.write(block)
    os.makedirs(os.path.join(root, "pub"), exist_ok=True)
    return big, names


def owner_records(site, big, names):
    site.write("fs/orvex.fs", f"{big};1;rwxr-xr-x;101;101;;0;0\n")
    site.write("fs/1.fs", "".join(f"{n};rw-r--r--;101;101;100;0\n" for n in names))


# --- many sessions -----------------------------------------------------------------------------

async def read_reply(reader):
    """The code of a whole (possibly multi-line) reply."""
    line = await reader.readline()
    if not line:
        raise ConnectionError("closed")
    code = line[:3]
    if line[3:4] == b"-":
        while True:
            more = await reader.readline()
            if not more:
                raise ConnectionError("closed")
            if more.startswith(code + b" "):
                break
    return code.decode(errors="replace")


async def open_session(port, source, user, password):
    reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=(source, 0))
    try:
        code = await read_reply(reader)
        if code != "220":
            raise ConnectionError(f"greeting {code}")
        writer.write(f"USER {user}\r\n".encode())
        code = await read_reply(reader)
        if code == "331":
            writer.write(f"PASS {password}\r\n".encode())
            code = await read_reply(reader)
        if code != "230":
            raise ConnectionError(f"login {code}")
    except BaseException:
        writer.close()
        raise
    return reader, writer


async def open_many(turn, count, sources, parallel, failures):
    """Opens `count` sessions with at most `parallel` logins in flight."""
    held = []
    next_index = iter(range(count))

    async def worker():
        for i in next_index:
            try:
                held.append(await asyncio.wait_for(
                    open_session(turn.port, sources[i % len(sources)], turn.user,
                                 turn.password), 60))
            except (OSError, asyncio.TimeoutError) as e:
                failures.append(repr(e))

    await asyncio.gather(*(worker() for _ in range(min(parallel, count))))
    return held


async def quit_all(held):
    """QUIT on every held session; the number that still answered."""
    async def one(reader, writer):
        try:
            writer.write(b"QUIT\r\n")
            return await asyncio.wait_for(read_reply(reader), 30) == "221"
        except (OSError, asyncio.TimeoutError):
            return False
        finally:
            writer.close()

    answered = await asyncio.gather(*(one(r, w) for r, w in held))
    return sum(answered)


def login_once(turn):
    """(USER to 230, connect to 230) in seconds, on a new connection from 127.0.0.1."""
    start = time.perf_counter()
    c = RawClient(turn.port, timeout=30, source="127.0.0.1")
    try:
        c.reply()
        user_sent = time.perf_counter()
        reply = c.cmd(f"USER {turn.user}")
        if reply.startswith("331"):
            reply = c.cmd(f"PASS {turn.password}")
        end = time.perf_counter()
        if not reply.startswith("230"):
            raise ConnectionError(reply)
        c.cmd("QUIT")
    finally:
        c.close()
    return end - user_sent, end - start


def thread_count(pid):
    total = 0
    for p in tree_pids(pid):
        try:
            with open(f"/proc/{p}/status") as f:
                total += next(int(l.split()[1]) for l in f if l.startswith("Threads:"))
        except (OSError, StopIteration):
            pass
    return total


def wait_threads(pid, baseline, timeout=60):
    """Waits until the server has ended the closed sessions' threads (vsftpd: processes): back
    near `baseline`, or no fewer for two seconds (threads a server keeps once started)."""
    deadline = time.monotonic() + timeout
    last, since = thread_count(pid), time.monotonic()
    while last > baseline + 2 and time.monotonic() < deadline:
        time.sleep(0.1)
        now = thread_count(pid)
        if now < last:
            last, since = now, time.monotonic()
        elif time.monotonic() - since > 2:
            break


def session_figures(turn, count, sources, parallel, samples):
    login_once(turn)
    time.sleep(0.5)
    threads = thread_count(turn.pid)
    before = process_rss_kib(tree_pids(turn.pid))
    out = {"held": 0, "failed": 0, "lost": 0}

    async def run():
        failures = []
        start = time.perf_counter()
        held = await open_many(turn, count, sources, parallel, failures)
        out["open_s"] = time.perf_counter() - start
        out["held"], out["failed"] = len(held), len(failures)
        if failures:
            print(f"  {turn.name}: {len(failures)} sessions not opened, e.g. {failures[0]}")
        try:
            await asyncio.sleep(1)
            out["rss_kib"] = process_rss_kib(tree_pids(turn.pid)) - before
            # The event loop is idle meanwhile: the held sessions are quiet sockets.
            timed = [login_once(turn) for _ in range(samples)]
            out["login_ms"] = [t[0] * 1000 for t in timed]
            out["connect_login_ms"] = [t[1] * 1000 for t in timed]
        finally:
            out["lost"] = len(held) - await quit_all(held)

    asyncio.run(run())
    print(f"  {out['held']} sessions opened in {out.get('open_s', 0):.2f} s", flush=True)
    if out["held"]:
        out["kib_per_session"] = out["rss_kib"] / out["held"]
    wait_threads(turn.pid, threads)
    return out


# --- listings and transfers --------------------------------------------------------------------

def logged_in(turn):
    c = RawClient(turn.port, timeout=120)
    c.reply()
    reply = c.cmd(f"USER {turn.user}")
    if reply.startswith("331"):
        reply = c.cmd(f"PASS {turn.password}")
    if not reply.startswith("230"):
        c.close()
        raise ConnectionError(reply)
    c.cmd("TYPE I")
    return c


def stor_tail(turn, root, rel, mib, block):
    """(last byte in the file to 226, end of the client's data to 226) in seconds. The file's
    size is polled while the reply is awaited, so the first figure leaves out the data still in
    the sockets' buffers when the client finished sending."""
    dest = os.path.join(root, rel)
    size = mib * BLOCK
    c = logged_in(turn)
    try:
        data = passive(c)
        os.sync()  # nothing of an earlier upload still waits for the disk
        reply = c.cmd(f"STOR {rel}")
        if not reply.startswith(("125", "150")):
            raise ConnectionError(reply)
        for _ in range(mib):
            data.sendall(block)
        sent = time.perf_counter()
        data.shutdown(socket.SHUT_WR)
        written = None
        deadline = sent + 120
        while True:
            now = time.perf_counter()
            if written is None:
                try:
                    if os.stat(dest).st_size >= size:
                        written = now
                except OSError:
                    pass
            ready, _, _ = select.select([c.sock], [], [], 0.0001 if written is None else 1)
            if ready:
                break
            if now > deadline:
                raise TimeoutError("no reply after the upload")
        done = time.perf_counter()
        reply = c.reply()[-1]
        data.close()
        if not reply.startswith("226"):
            raise ConnectionError(reply)
        # Seen together with the reply: the wait is below the polling's resolution.
        written = written if written is not None else done
        return done - written, done - sent
    finally:
        c.close()
        try:
            os.remove(dest)
        except OSError:
            pass


def retr_rate(turn, size):
    """Bytes per second of a plain RETR, from the command to the end of the data."""
    c = logged_in(turn)
    try:
        data = passive(c)
        buf = bytearray(4 << 20)
        got = 0
        start = time.perf_counter()
        reply = c.cmd("RETR data.bin")
        if not reply.startswith(("125", "150")):
            raise ConnectionError(reply)
        while True:
            n = data.recv_into(buf)
            if not n:
                break
            got += n
        took = time.perf_counter() - start
        data.close()
        reply = c.reply()[-1]
        if got != size or not reply.startswith("226"):
            raise ConnectionError(f"{got} of {size} bytes, {reply}")
        return size / took
    finally:
        c.close()


# --- the run -----------------------------------------------------------------------------------

def raise_open_files(sessions):
    want = sessions + 4096
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft >= want:
        return
    try:
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, max(hard, want)))
    except (ValueError, OSError):
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        print(f"open files limited to {hard}: fewer than {sessions} sessions may open")


def one_turn(turn, opts, root, sources, block, rnd, into):
    name = turn.name
    count = opts.vsftpd_sessions if name == "vsftpd" else opts.sessions
    if count:
        s = session_figures(turn, count, sources, opts.parallel, opts.login_samples)
        into.setdefault("open_s", []).append(s.get("open_s"))
        into.setdefault("kib_per_session", []).append(s.get("kib_per_session"))
        into.setdefault("login_ms", []).extend(s.get("login_ms", []))
        into.setdefault("connect_login_ms", []).extend(s.get("connect_login_ms", []))
        into["held"] = max(into.get("held", 0), s["held"])
        into["sessions"] = count
        into["not_held"] = into.get("not_held", 0) + s["failed"] + s["lost"]
    if name != "vsftpd":
        for command in ("LIST", "MLSD"):
            t, lines = median_list_seconds(turn.port, turn.user, turn.password, "big",
                                           opts.list_rounds, command)
            into.setdefault(command, []).append(t * 1000)
            into[command + "_lines"] = lines
    for attempt in range(opts.stor_tries):
        rel = f"pub/tail-{name}-{rnd}-{attempt}.bin"
        on_disk, sent = stor_tail(turn, root, rel, opts.upload_mib, block)
        into.setdefault("tail_disk_ms", []).append(on_disk * 1000)
        into.setdefault("tail_sent_ms", []).append(sent * 1000)
    for _ in range(opts.retr_tries):
        into.setdefault("retr_mbs", []).append(retr_rate(turn, opts.retr_mib * BLOCK) / 1e6)


def summary(raw):
    """Best of rounds for times and memory; medians of pooled latencies and RETR rates."""
    def best(values, pick=min):
        values = [v for v in values or [] if v is not None]
        return pick(values) if values else None

    out = {}
    for name, r in raw.items():
        med = {k: statistics.median(r[k]) if r.get(k) else None
               for k in ("login_ms", "connect_login_ms", "tail_disk_ms", "tail_sent_ms",
                         "retr_mbs")}
        out[name] = {
            "sessions held": f"{r['held']}/{r['sessions']}" if "sessions" in r else None,
            "sessions lost or refused": r.get("not_held"),
            OPEN: best(r.get("open_s")),
            LOGIN: med["login_ms"],
            "one more login connect..230 (ms)": med["connect_login_ms"],
            MEMORY: best(r.get("kib_per_session")),
            "LIST (ms)": best(r.get("LIST")),
            "MLSD (ms)": best(r.get("MLSD")),
            TAIL: med["tail_disk_ms"],
            "STOR data sent..226 (ms)": med["tail_sent_ms"],
            # The median: single tries of a loopback RETR scatter by several times.
            RETR: med["retr_mbs"],
            "RETR plain, best try (MB/s)": best(r.get("retr_mbs"), max),
        }
    return out


def targets(fig, n):
    """(target, figure, held) for the issue's targets that this run measured."""
    o, v = fig.get("orvex", {}), fig.get("vantor", {})
    out = []

    def check(text, value, ok):
        if value is not None:
            out.append((text, value, ok))

    login, vlogin = o.get(LOGIN), v.get(LOGIN)
    check(f"login with {n} held < 1 ms", login, login is not None and login < 1)
    if login and vlogin:
        check("login within 2x vantor", login / vlogin, login / vlogin <= 2)
    op, vop = o.get(OPEN), v.get(OPEN)
    if op and vop:
        check(f"opening {n} within 1.5x vantor", op / vop, op / vop <= 1.5)
    kib = o.get(MEMORY)
    check("<= 24 KiB per idle session", kib, kib is not None and kib <= 24)
    ls, ml = o.get("LIST (ms)"), o.get("MLSD (ms)")
    if ls and ml:
        check("MLSD within 1.3x LIST", ml / ls, ml / ls <= 1.3)
    tail = o.get(TAIL)
    check("STOR last byte to 226 < 2 ms", tail, tail is not None and tail < 2)
    rates = [fig[s].get(RETR) for s in ("vsftpd", "vantor") if s in fig]
    rates = [r for r in rates if r]
    if o.get(RETR) and rates:
        ratio = o[RETR] / max(rates)
        check("RETR >= 0.95x the fastest other", ratio, ratio >= 0.95)
    return out


def print_table(fig, opts):
    names = list(fig)
    rows = []
    for d in fig.values():
        rows.extend(k for k in d if k not in rows)
    print()
    print(f"{opts.sessions} sessions, {opts.files} files, STOR {opts.upload_mib} MiB, "
          f"RETR {opts.retr_mib} MiB, {opts.rounds} rounds")
    print(f"{'':34}" + "".join(f"{n:>12}" for n in names))
    for row in rows:
        cells = []
        for n in names:
            v = fig[n].get(row)
            cells.append(f"{v:12.2f}" if isinstance(v, float) else
                         f"{v if v is not None else '-':>12}")
        print(f"{row:34}" + "".join(cells))
    checks = targets(fig, opts.sessions)
    if checks:
        print()
        print("targets (orvex)")
        for text, value, ok in checks:
            print(f"  {text:34}{value:10.2f}  {'met' if ok else 'NOT MET'}")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--bin-dir", default=os.path.join(HERE, "..", "build", "bin"))
    ap.add_argument("--sessions", type=int, default=10000, help="idle sessions held")
    ap.add_argument("--vsftpd-sessions", type=int, default=0,
                    help="sessions held by vsftpd (two processes each; 0 leaves it out)")
    ap.add_argument("--parallel", type=int, default=64, help="logins in flight while opening")
    ap.add_argument("--sources", type=int, default=200, help="127.0.0.x source addresses")
    ap.add_argument("--login-samples", type=int, default=21)
    ap.add_argument("--files", type=int, default=10000, help="files of the listed directory")
    ap.add_argument("--list-rounds", type=int, default=11, help="listings of each kind a turn")
    ap.add_argument("--upload-mib", type=int, default=512)
    ap.add_argument("--stor-tries", type=int, default=3)
    ap.add_argument("--retr-mib", type=int, default=None, help="default: --upload-mib")
    ap.add_argument("--retr-tries", type=int, default=2)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--servers", default="orvex,vantor,vsftpd")
    ap.add_argument("--json", help="also write the figures to this file")
    opts = ap.parse_args(argv)
    opts.retr_mib = opts.retr_mib or opts.upload_mib
    harness.BIN_DIR = os.path.abspath(opts.bin_dir)
    raise_open_files(max(opts.sessions, opts.vsftpd_sessions))
    sources = [f"127.0.0.{2 + i}" for i in range(max(1, min(opts.sources, 250)))]
    limit = max(opts.sessions, opts.vsftpd_sessions) + 1000

    work = tempfile.mkdtemp(prefix="orvex-sessions-bench-")
    try:
        # One tree for all: orvex's home, vantor's home and vsftpd's anonymous root.
        site = prepare_orvex(work, limit)
        root = site.path("site")
        big, names = write_tree(root, opts.files, opts.retr_mib)
        owner_records(site, big, names)
        logs = os.path.join(work, "vantor-logs")
        os.makedirs(logs)
        starters = {"orvex": lambda: start_orvex(site),
                    "vantor": lambda: start_vantor(root, logs, limit),
                    "vsftpd": lambda: start_vsftpd(work, root)}
        order = [s for s in opts.servers.split(",") if s in starters]
        block = os.urandom(BLOCK)
        raw = {n: {} for n in order}
        for rnd in range(opts.rounds):
            turns = order[rnd % len(order):] + order[:rnd % len(order)]
            for name in turns:
                try:
                    turn = starters[name]()
                except unittest.SkipTest as e:
                    print(f"{name}: skipped ({e})")
                    raw.pop(name, None)
                    order.remove(name)
                    continue
                print(f"round {rnd + 1}: {name}", flush=True)
                try:
                    one_turn(turn, opts, root, sources, block, rnd, raw[name])
                finally:
                    turn.stop()
        fig = summary(raw)
        print_table(fig, opts)
        if opts.json:
            with open(opts.json, "w") as f:
                json.dump({"figures": fig, "samples": raw,
                           "targets": [list(t) for t in targets(fig, opts.sessions)]}, f,
                          indent=1)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
