#!/usr/bin/env python3
"""Plays scenario files (see gen.py) on two builds of nandkeep in lockstep and prints every
difference; the last line is "N states, D differences".

Each side runs every step with its own nandkeep-sim and nandkeep-simctl, on its own state
directory; after each step the runner compares, side against side: exit status, standard output
and error, the system-log lines and trace lines the step added, flashstatus, the verify result
log and every other file under the state directory or the command's directory (the files read
commands wrote), the flash cells and the device state (state.bin: bad marks, ECC counters of
every node, erase and operation counts, pending faults). A difference that persists is reported
at the step where it arose. When the device states differ, each side's simctl is asked for the
readable form (ecc of every node, bad, ops, fault list, erasecounts); a flash difference is
shown with each side's `simctl save` of the first differing block. When the two simulators keep
their state in different layouts, every step is read through simctl instead (slower).

Paths of a side's own directory are replaced by <dir> before comparing.
Usage: runner.py --ref BUILD --new BUILD [--shim SO] [--jobs J] [--keep] [--scratch DIR] [--show]
                 [--first] [--via-simctl] FILE...
"""
import argparse
import difflib
import hashlib
import multiprocessing
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BLOCK = 0x20000
SIDES = ("ref", "new")
TIMEOUT = 120
LOGS = ("trace", "dev/syslog")  # append-only: the lines a step added are compared
NAMES = {"trace": "operation trace", "dev/syslog": "system log", "dev/flashstatus": "flashstatus",
         "dev/ramdisk/flashVerifyResult": "verify log"}


class Side:
    def __init__(self, name, build, root, shim, clock):
        self.name, self.root = name, root
        self.tool = os.path.join(build, "sim", "nandkeep-sim")
        self.ctl = os.path.join(build, "sim", "nandkeep-simctl")
        self.dev, self.cwd = os.path.join(root, "dev"), os.path.join(root, "cwd")
        os.makedirs(self.cwd)
        self.env = dict(os.environ, NANDKEEP_SIM_DIR=self.dev)
        self.tool_env = dict(self.env, NANDKEEP_SIM_TRACE=os.path.join(root, "trace"),
                             NANDKEEP_DIFF_TIME=str(clock))
        if shim:
            self.tool_env["LD_PRELOAD"] = shim
        self.log_seen = {}

    def call(self, exe, argv0, args, env):
        try:
            p = subprocess.run([argv0] + args, executable=exe, cwd=self.cwd, env=env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=TIMEOUT)
            return p.returncode, p.stdout, p.stderr
        except subprocess.TimeoutExpired as e:
            return "timeout", e.stdout or b"", e.stderr or b""

    def simctl(self, *args):
        return self.call(self.ctl, "nandkeep-simctl", list(args), self.env)

    def nandkeep(self, args):
        return self.call(self.tool, "nandkeep", args, self.tool_env)

    def clean(self, data):
        return data.replace(self.root.encode(), b"<dir>")

    def files(self):
        """Every file of the side but the chip itself: {relative path: contents}."""
        found = {}
        for top in ("dev", "cwd", "trace"):
            base = os.path.join(self.root, top)
            walk = [(self.root, [], [top])] if os.path.isfile(base) else os.walk(base)
            for d, _, names in walk:
                for n in names:
                    path = os.path.join(d, n)
                    rel = os.path.relpath(path, self.root)
                    if rel in ("dev/flash.bin", "dev/state.bin", "dev/lock") or os.path.islink(
                            path):
                        continue
                    with open(path, "rb") as f:
                        found[rel] = self.clean(f.read())
        for rel in LOGS:  # only what this step appended
            data = found.get(rel, b"")
            seen = self.log_seen.get(rel, b"")
            self.log_seen[rel] = data
            found[rel] = data[len(seen):] if data.startswith(seen) else b"(rewritten)\n" + data
        return found

    def readouts(self):
        """The device state in the simulator's own words."""
        nodes = 1
        if os.path.exists(os.path.join(self.dev, "partitions")):
            with open(os.path.join(self.dev, "partitions")) as f:
                nodes = max(1, sum(1 for line in f if line.strip()))
        out = {"ecc mtd%d" % n: self.simctl("ecc", str(n)) for n in range(nodes)}
        for what, args in (("bad blocks", ["bad"]), ("ops", ["ops"]), ("faults", ["fault", "list"]),
                           ("erase counts", ["erasecounts"])):
            out[what] = self.simctl(*args)
        return {k: (b"status %s\n" % str(v[0]).encode()) + v[1] + v[2] for k, v in out.items()}

    def raw_state(self):
        try:
            with open(os.path.join(self.dev, "state.bin"), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def chip(self, raw):
        """The chip's cells as a file: flash.bin (the complement of every byte; holes and zeros
        are erased), or what the side's simctl saves of the whole chip."""
        if raw:
            return os.path.join(self.dev, "flash.bin")
        path = os.path.join(self.root, "save.bin")
        self.simctl("save", path)
        return path


def data_blocks(f):
    """The blocks of a sparse file that hold data."""
    fd, pos, size = f.fileno(), 0, os.fstat(f.fileno()).st_size
    while pos < size:
        try:
            start = os.lseek(fd, pos, os.SEEK_DATA) // BLOCK
        except OSError:
            return
        end = -(-os.lseek(fd, start * BLOCK, os.SEEK_HOLE) // BLOCK)
        yield from range(start, end)
        pos = max(end, start + 1) * BLOCK


def short_diff(a, b, limit=8):
    """A few lines that show how a and b differ."""
    if a is None or b is None:
        return ["  only in %s" % ("new" if a is None else "ref")]
    text = all(c in b"\t\n\r" or 32 <= c < 127 for c in (a + b)[:4096])
    if text:
        lines = list(difflib.unified_diff(a.decode(errors="replace").splitlines(),
                                          b.decode(errors="replace").splitlines(), "ref", "new",
                                          n=1, lineterm=""))[2:]
    else:
        at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
        lines = ["@@ %d / %d bytes, first difference at byte 0x%X" % (len(a), len(b), at),
                 "-" + a[at:at + 16].hex(" "), "+" + b[at:at + 16].hex(" ")]
    if not lines:
        lines = ["@@ %d / %d bytes" % (len(a), len(b))]
    more = len(lines) - limit
    return ["  " + l for l in lines[:limit]] + (["  ... %d more lines" % more] if more > 0 else [])


def digest(*parts):
    h = hashlib.blake2b(digest_size=16)
    for p in parts:
        h.update(b"-" if p is None else b"%d:" % len(p) + p)
    return h.digest()


class Play:
    def __init__(self, text, builds, scratch, shim, keep, show=False, via_simctl=False):
        self.steps = [l.split() for l in text.splitlines() if l.strip() and not l.startswith("#")]
        clock = next((int(s[1]) for s in self.steps if s[0] == "time"), 0)
        self.dir = tempfile.mkdtemp(prefix="s", dir=scratch)
        self.inputs_dir = os.path.join(self.dir, "in")
        os.makedirs(self.inputs_dir)
        self.sides = [Side(n, b, os.path.join(self.dir, n), shim, clock)
                      for n, b in zip(SIDES, builds)]
        self.keep, self.raw, self.show, self.via_simctl = keep, not via_simctl, show, via_simctl
        self.inputs, self.made = {}, set()
        self.last = {}  # observable -> digest of the (ref, new) pair it last differed with
        self.report, self.count = [], 0

    def make_input(self, name):
        kind, size, seed = self.inputs[name]
        path = os.path.join(self.inputs_dir, name)
        if name not in self.made:
            data = random.Random(seed).randbytes(size)
            if kind == "raw":
                with open(path, "wb") as f:
                    f.write(data)
            else:
                with open(path + ".data", "wb") as f:
                    f.write(data)
                subprocess.run(["mkimage", "-A", "arm64", "-O", "linux", "-T", kind, "-C", "none",
                                "-a", "0x80000", "-e", "0x80000", "-n", name, "-d", path + ".data",
                                path], check=True, stdout=subprocess.DEVNULL,
                               env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
                os.unlink(path + ".data")
            self.made.add(name)
        return path

    def step(self, words):
        """Runs one step on both sides: [(status, stdout, stderr)] or None for a header line."""
        verb, args = words[0], words[1:]
        if verb == "time":
            return None
        if verb == "input":
            self.inputs[args[0]] = (args[1], int(args[2]), int(args[3]))
            return None
        if verb == "poke":
            path = os.path.join(self.inputs_dir, "poke.bin")
            with open(path, "wb") as f:
                f.write(bytes.fromhex(args[1]))
            return [s.simctl("load", path, args[0]) for s in self.sides]
        if verb == "sim":
            return [s.simctl(*args) for s in self.sides]
        if verb == "run":
            args = [self.make_input(a[1:]) if a.startswith("@") else a for a in args]
            return [s.nandkeep(args) for s in self.sides]
        raise ValueError("unknown step: " + " ".join(words))

    def differ(self, where, what, a, b):
        """Records a difference unless the same pair was already reported."""
        key = digest(a, b)
        if a == b or self.last.get(what) == key:
            self.last.pop(what, None) if a == b else None
            return
        self.last[what] = key
        self.count += 1
        if self.count <= 12 or self.show:
            self.report += ["%s: %s differs" % (where, what)] + short_diff(a, b)

    def compare(self, where, results, words, full):
        ref, new = self.sides
        for i, what in enumerate(("exit status", "stdout", "stderr")):
            a, b = (r[i] for r in results)
            if i == 0:
                a, b = str(a).encode(), str(b).encode()
            self.differ(where, what, ref.clean(a), new.clean(b))
        files = [s.files() for s in self.sides]
        for rel in sorted(set(files[0]) | set(files[1])):
            self.differ(where, NAMES.get(rel, "file " + rel), files[0].get(rel), files[1].get(rel))
        states = [s.raw_state() for s in self.sides]
        if words[:2] == ["sim", "create"] and not self.via_simctl:  # raw: both keep one layout
            self.raw = states[0][:16] == states[1][:16] and len(states[0]) == len(states[1])
        if not self.raw or states[0] != states[1]:
            outs = [s.readouts() for s in self.sides]
            for what in sorted(set(outs[0]) | set(outs[1])):
                self.differ(where, what, outs[0].get(what), outs[1].get(what))
            if self.raw and outs[0] == outs[1]:
                self.differ(where, "state.bin (no readout shows it)", *states)
        # The blocks a step may have changed: those its erases and programs name in either
        # side's trace, and those written behind the driver's back; the last step reads all.
        which = None
        if not full:
            which = {int(l.split()[1]) for f in files for l in f.get("trace", b"").splitlines()}
            if words[0] == "poke" or words[:2] == ["sim", "flip"]:
                which.add(int(words[1 + (words[0] == "sim")], 0) // BLOCK)
        diff = self.compare_chips([s.chip(self.raw) for s in self.sides], which)
        key = digest(*(d for b in diff for d in b[1:]))
        if diff and self.last.get("flash") != key:
            self.last["flash"] = key
            self.count += 1
            if self.count <= 12 or self.show:
                first = diff[0][0] * BLOCK
                saved = [s.simctl("save", "/dev/stdout", hex(first), hex(BLOCK))[1]
                         for s in self.sides]
                blocks = " ".join(str(b[0]) for b in diff[:12]) + " ..." * (len(diff) > 12)
                self.report.append("%s: flash differs in %d blocks: %s" % (where, len(diff),
                                                                           blocks))
                self.report += short_diff(*saved)
        elif not diff:
            self.last.pop("flash", None)

    @staticmethod
    def compare_chips(paths, which):
        """[(block, digest ref, digest new)] of the blocks of which (all when None) that differ."""
        files = []
        for path in paths:
            try:
                files.append(open(path, "rb"))
            except FileNotFoundError:
                files.append(open(os.devnull, "rb"))
        with files[0], files[1]:
            if which is None:
                which = set(data_blocks(files[0])) | set(data_blocks(files[1]))
            diff = []
            for b in sorted(which):
                a, n = (os.pread(f.fileno(), BLOCK, b * BLOCK) for f in files)
                if a != n:
                    diff.append((b, digest(a), digest(n)))
        return diff

    def play(self):
        try:
            last = max((i for i, w in enumerate(self.steps) if w[0] in ("sim", "poke", "run")),
                       default=-1)
            for n, words in enumerate(self.steps):
                results = self.step(words)
                if results is not None and self.show:
                    status, out, err = results[0]
                    self.report += ["$ " + " ".join(words), "  [%s] " % status + (
                        out + err).decode(errors="replace").strip().replace("\n", "\n      ")]
                if results is not None:
                    self.compare("step %d (%s)" % (n + 1, " ".join(words)), results, words,
                                 n == last)
        finally:
            if not self.keep:
                shutil.rmtree(self.dir, ignore_errors=True)
        if self.count > 12 and not self.show:
            self.report.append("... %d more differences" % (self.count - 12))
        return self.count, self.report


def play_file(job):
    path, builds, scratch, shim, keep, show, via_simctl = job
    started = time.monotonic()
    try:
        with open(path) as f:
            play = Play(f.read(), builds, scratch, shim, keep, show, via_simctl)
        count, report = play.play()
        if keep:
            report.append("state kept in " + play.dir)
        return path, count, report, None, time.monotonic() - started
    except Exception as e:  # the scenario could not be played: reported, never a pass
        return path, 0, [], "%s: %s" % (type(e).__name__, e), time.monotonic() - started


def stop_on_term():
    """A worker stopped early (--first) kills the command it waits for and removes its state."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--ref", required=True, help="build directory of the reference")
    p.add_argument("--new", required=True, help="build directory of the build under test")
    p.add_argument("--shim", help="the time() shim (pintime.c built as a shared object)")
    p.add_argument("--jobs", type=int, default=1)
    p.add_argument("--keep", action="store_true", help="keep each scenario's state directories")
    p.add_argument("--scratch", default=tempfile.gettempdir())
    p.add_argument("--show", action="store_true", help="print what the ref build did at each step")
    p.add_argument("--first", action="store_true", help="stop at the first scenario that differs")
    p.add_argument("--via-simctl", action="store_true",
                   help="read the chip and its state through simctl at every step (slow)")
    p.add_argument("files", nargs="+")
    a = p.parse_args()
    builds = [os.path.abspath(a.ref), os.path.abspath(a.new)]
    shim = os.path.abspath(a.shim) if a.shim else None
    if not shim:
        print("no --shim: flashVerify draws its data from the clock and may differ", flush=True)
    scratch = tempfile.mkdtemp(prefix="nkdiff-", dir=a.scratch)
    jobs = [(f, builds, scratch, shim, a.keep, a.show, a.via_simctl) for f in a.files]
    total = broken = played = 0
    try:
        with multiprocessing.Pool(a.jobs, stop_on_term) as pool:  # leaving it stops the workers
            for path, count, report, error, secs in pool.imap(play_file, jobs):
                total += count
                played += 1
                if played % 100 == 0:
                    print("... %d states, %d differences" % (played, total), file=sys.stderr,
                          flush=True)
                if error:
                    broken += 1
                    print("%s: could not run: %s" % (path, error), flush=True)
                elif count or report:
                    print("%s: %d differences (%.1f s)" % (path, count, secs))
                    print("\n".join("  " + l for l in report), flush=True)
                if (count or error) and a.first:
                    break
    finally:
        if not a.keep:
            shutil.rmtree(scratch, ignore_errors=True)
    if broken:
        print("%d scenarios could not run" % broken)
    print("%d states, %d differences" % (played, total))
    return 1 if total or broken else 0


if __name__ == "__main__":
    sys.exit(main())
