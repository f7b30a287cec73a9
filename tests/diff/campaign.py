#!/usr/bin/env python3
# The differential campaign (README.md; run.sh builds both sides and calls this):
#   campaign.py REF-BUILD NEW-BUILD SHIM OUT SEED N JOBS [K]
# draws scenarios 0..N-1 of seed SEED (or K alone), writes each to OUT/K.txt and plays it on both
# builds in step; after every step everything a user or the device can observe must match.
# A scenario is a text file, one step a line; scenario K of seed S depends on S and K only:
#   time T                     the clock the tool sees (pintime.c: flashVerify seeds rand() so)
#   input NAME KIND SIZE SEED  SIZE seeded random bytes, raw or wrapped by mkimage as a KIND image
#   sim ARGS...                nandkeep-simctl ARGS (create, fault add, flip, mark, load)
#   run ARGS...                nandkeep-sim ARGS
# where @NAME in ARGS stands for the path of input NAME.
import contextlib, functools, multiprocessing, os, pathlib, random, re, subprocess, sys, tempfile

BLOCK, HEADER = 0x20000, 64  # erase block, mkimage header
KERNEL, KERNEL_REGION = (0x300000, 0xC00000), 0x900000  # the normal and the backup copy
ROOTFS, ROOTFS_REGION = (0x1500000, 0x3500000), 0x2000000
RECORDS = (("tempconf", 0x20000), ("tempdata", 0x80000), ("NFDI", 0xC0000), ("defconf", 0x30000))
# The simulator's default partition tables (sim/tables): flashfs1, flashfs2, NFDI, and the end of
# what the stores use (the bad-block tables take the last 4 or 52 blocks).
LAYOUT = {128: ((0x5500000, 0x800000), (0x5D00000, 0x2100000), (0x7E00000, 0x200000), 0x7F80000),
          256: ((0x5500000, 0x1000000), (0x6500000, 0x9300000), (0xF800000, 0x800000), 0xF980000)}


class Scenario:
    def __init__(self, seed, index):
        # Firmware sets: the inputs of each, the (kernel, rootfs) data sizes of each.
        self.r, self.sets, self.sizes = random.Random("%d/%d" % (seed, index)), [], []
        self.lines = ["# scenario %d of seed %d" % (index, seed)]
        self.add("time", 1600000000 + self.r.getrandbits(28))
        self.r.choices((self.factory, self.recovery, self.firmware), (1, 1, 8))[0]()

    def add(self, *words):
        self.lines.append(" ".join(str(w) for w in words if str(w)))

    def input(self, name, kind, size):
        self.add("input", name, kind, size, self.r.getrandbits(32))
        return "@" + name

    def create(self, profile):
        self.profile, (self.flashfs1, self.flashfs2, self.nfdi, self.end) = profile, LAYOUT[profile]
        self.add("sim create --profile", profile, "--seed", self.r.getrandbits(32))

    def image_size(self, most, region, fill):
        # Often ending on or beside a block boundary; now and then leaving no room, or one block,
        # for the sub-image behind it.
        r, x = self.r, self.r.random()
        if x < 0.3:
            return r.randint(1, most // BLOCK) * BLOCK - HEADER + r.choice((0, 0, -1, 1))
        return (r.choice((0x1FFBF, 0x1FFC0, 0x1FFC1)) if x < 0.36 else r.randint(0x1FFC0, most)
                if x > 0.36 + fill else region - HEADER - r.choice((0, 0, 1, BLOCK, BLOCK + 1)))

    def record_size(self, most):  # often at or beside a record's limits
        r, x = self.r, self.r.random()
        return (0 if x < 0.1 else r.choice((0x1FFF7, 0x1FFF8, 0x1FFF9, 0x1FFFC, 0x3FFF8, 0x3FFF9))
                if x < 0.3 else r.randint(1, 0x400 if x < 0.6 else most))

    def firmware_set(self, name):
        r, big, edge = self.r, self.r.random() < 0.02, 0x1FFC0 - HEADER
        kernel = self.image_size(0x900000 if big else 0x200000, KERNEL_REGION, 0.04)
        rootfs = self.image_size(0xC00000 if big else 0x400000, ROOTFS_REGION, 0.01)
        x = r.random()  # a device tree image that just fills its block, or not
        dtb = (r.choice((edge - 1, edge, edge + 1, 0x1FFBF, 0x1FFC0)) if x < 0.15 else
               r.randint(1, 0x8000 if x < 0.85 else 0x1FFBF))
        boot = r.choice((0x140000, 0x140001)) if r.random() < 0.05 else r.randint(1, 0x60000)
        parts = (("boot", "raw", boot), ("kernel", "kernel", kernel), ("dtb", "firmware", dtb),
                 ("rootfs", "ramdisk", rootfs), ("defconf", "raw", self.record_size(0x30000)))
        self.sets.append([self.input(name + "." + part, kind, n) for part, kind, n in parts])
        self.sizes.append((kernel, rootfs))

    def target(self):
        # A chip offset in something that matters: the header, data or last byte of either copy
        # of an image of either set, a sub-image, a record, the boot image, or anywhere.
        r, c = self.r, self.r.randint(0, 1)
        behind = lambda start, size: (start + HEADER + size) // BLOCK * BLOCK + BLOCK  # sub-image
        (kernel, rootfs), (ffs, ffs_size) = r.choice(self.sizes), self.flashfs2
        start, size = r.choice(((KERNEL[c], kernel), (ROOTFS[c], rootfs)))
        base, spread = r.choice((
            (start, HEADER - 1), (start + HEADER, size - 1), (start + HEADER + size - 1, 0),
            (behind(KERNEL[c], kernel), HEADER + 16), (behind(ROOTFS[c], rootfs), 16),
            (ffs + ffs_size - BLOCK * (c + 1), 16), (ffs, 16), (0x20000, 0x100),
            (self.nfdi[0] + r.choice((0, self.nfdi[1] // 2 - BLOCK, BLOCK)), 16),
            (0, self.end - 1)))
        return base + r.randint(0, spread)

    def fault(self, kind, where, most=14):
        # One fault at chip offset WHERE; flipped or misread bits: at most MOST in a page.
        r, block = self.r, where // BLOCK
        if kind == "poke":  # bytes written behind the ECC's back
            self.add("sim load", self.input("p%d" % len(self.lines), "raw", r.randint(1, 4)), where)
        elif kind == "flip":
            self.add("sim flip", "0x%X" % where, min(most, r.choice((1, 1, 1, 2, 3, 4, 5, 14))))
        elif kind == "mark":
            self.add("sim mark", block)
        elif kind in ("short-read", "short-write", "powercut"):
            self.add("sim fault add", kind, r.randint(1, 60 if kind == "powercut" else 8))
        else:  # a fault of a block, some counted, some on the page of WHERE
            n = (r.randint(0, 4) if kind == "wear-out" else
                 r.randint(1, min(most, 6)) if kind in ("stuck-bits", "bitflip") else "")
            page = r.choice((where % BLOCK // 0x800, r.randint(0, 63)))  # of WHERE, or any
            page = "--page %d" % page if r.random() < 0.4 else ""
            self.add("sim fault add", kind, block, n, page)

    def faults(self, n, later):
        # Before the first upgrade, blocks go bad, wear or misread; later also transfers, programs
        # and power fail, and cells change (corrections in a healthy pair show only in counters).
        kinds = ["bad", "erase-fail", "wear-out", "stuck-bits", "bitflip", "uncorrectable"]
        kinds += ["poke", "flip", "decay", "program-fail", "program-lost", "short-read",
                  "short-write", "powercut", "bitflip", "flip"] * 2 if later else []
        for _ in range(n):
            self.fault(self.r.choice(kinds), self.target())

    def command(self):
        r, x, n = self.r, self.r.random(), len(self.lines)
        (kind, most), verb = r.choice(RECORDS), r.choice(("write", "write", "read", "check"))
        if x < 0.26:
            self.add("run systemRecovery", r.choice(("", "1", "3")))
        elif x < 0.32:
            self.add("run upgradeFW", *r.choice(self.sets))
        elif x < 0.45:
            self.write_range()
        elif x < 0.80:  # a record command: the data written, the file read into, or none
            arg = (self.input(kind + str(n), "raw", self.record_size(most)) if verb == "write" else
                   "%s%d.out" % (kind, n) if verb == "read" else "")
            self.add("run", verb + kind, arg)
        elif x < 0.94:  # and the usage text
            self.add("run", r.choice(("eraseRootfs", "badBlockReport") * 4 + (
                "systemRecovery 2", "upgradeFW", "frobnicate", "write x", "checktempconf now", "")))
        else:
            length = r.choice((1, 2, 3, 8)) * BLOCK - r.choice((0, 0, 0, 0x100))
            self.add("run eccStatus", "%X 0x%X" % (self.target() // BLOCK * BLOCK, length))

    def write_range(self):  # write: up to four blocks into a store, not always aligned
        r, size = self.r, self.r.randint(1, 0x80000)
        f = self.input("w%d" % len(self.lines), "raw", size)
        start, region = r.choice((self.flashfs1, (0x160000, 0x1A0000), (KERNEL[1], KERNEL_REGION),
                                  (ROOTFS[r.randint(0, 1)], ROOTFS_REGION), self.flashfs2))
        start += r.randrange(region // BLOCK - 1) * BLOCK + r.choice((0,) * 38 + (0x200, 0x800))
        x = r.random()
        length = (size if x < 0.3 else -(-size // BLOCK) * BLOCK if x < 0.5 else
                  r.randint(1, size) if x < 0.6 else size + r.randint(1, 2 * BLOCK))
        self.add("run write", f, "0x%X %X" % (start, length))

    def firmware(self):
        # A firmware set installed on a damaged device, records written, maybe an upgrade to a
        # second set cut by power; more damage, then commands among faults.
        r = self.r
        self.create(256 if r.random() < 0.25 else 128)
        self.firmware_set("A")
        self.firmware_set("B")
        self.faults(r.choice((0, 0, 1, 1, 2, 3)), False)
        self.add("run upgradeFW", *self.sets[0])
        for kind, most in r.sample(RECORDS[:3], r.randint(0, 3)):  # records before the damage
            self.add("run write" + kind, self.input(kind + "0", "raw", self.record_size(most)))
        if r.random() < 0.35:
            if r.random() < 0.5:
                self.add("sim fault add powercut", r.randint(1, 120))
            self.add("run upgradeFW", *self.sets[1])
        self.faults(r.choice((0, 1, 1, 2, 3)), True)
        for _ in range(r.randint(2, 6 if self.profile == 128 else 4)):
            self.faults(r.choice((0, 0, 0, 1, 1, 2)), True)
            self.command()

    def recovery(self):
        # A healthy or nearly healthy pair under correctable reads, recovered again and again:
        # the recovery's single pass shows its reads only in the ECC counters.
        r = self.r
        self.create(256 if r.random() < 0.6 else 128)
        self.firmware_set("A")
        self.add("run upgradeFW", *self.sets[0])
        (kernel, rootfs), c, most = self.sizes[0], r.randint(0, 1), 4 if self.profile == 256 else 1
        for _ in range(r.randint(1, 3)):
            start, size = r.choice(((KERNEL[c], kernel), (ROOTFS[c], rootfs)))
            self.fault(r.choice(("flip", "bitflip")), start + r.randrange(HEADER + size - 16), most)
        self.faults(int(r.random() < 0.3), True)
        for _ in range(r.randint(2, 4)):
            if r.random() < 0.2:
                self.add("run", r.choice(("checkdefconf", "eccStatus %X 40000" % KERNEL[0])))
            self.add("run systemRecovery", r.choice(("", "", "1", "3")))

    def factory(self):
        # flashVerify on a small chip with factory-bad, worn and failing blocks.
        r, blocks = self.r, self.r.randint(12, 32)
        self.add("sim create --blocks", blocks, "--seed", r.getrandbits(32))
        for _ in range(r.choice((0, 1, 1, 2, 3))):
            kind = r.choice(("bad", "bad", "mark", "wear-out", "erase-fail", "stuck-bits",
                             "uncorrectable", "bitflip", "program-fail", "decay"))
            self.fault(kind, r.randrange(blocks * BLOCK), 3)
        if r.random() < 0.15:
            self.add("sim fault add powercut", r.randint(1, blocks * 8))
        self.add("run flashVerify")
        if r.random() < 0.5:
            self.add("run", r.choice(("badBlockReport", "eccStatus 0 %X" % (blocks * BLOCK))))


class Side:
    # One build with its own device directory, command directory and operation trace.
    def __init__(self, root, build, shim, clock):
        self.root, self.bin, self.dev = root, build + "/sim/", root + "/dev"
        os.makedirs(root + "/cwd")
        self.env = dict(os.environ, NANDKEEP_SIM_DIR=self.dev, NANDKEEP_SIM_TRACE=root + "/trace",
                        NANDKEEP_DIFF_TIME=clock, LD_PRELOAD=shim)

    def call(self, verb, args):  # "run": nandkeep itself, "sim": the simulator's control
        tool = {"run": "nandkeep-sim", "sim": "nandkeep-simctl"}[verb]
        p = subprocess.run([tool] + args, executable=self.bin + tool, cwd=self.root + "/cwd",
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=120, env=self.env)
        return [b"%d" % p.returncode, p.stdout, p.stderr]

    def observe(self, result):
        # Status and output of a step, and every file of the side but the flash cells: system
        # log, trace, flashstatus, verify log, files written, the device state (state.bin). The
        # side's own directory is the one thing that may differ.
        seen = dict(zip(("exit status", "stdout", "stderr"), result))
        for path in pathlib.Path(self.root).rglob("*"):
            if path.is_file() and path.name not in ("flash.bin", "lock"):
                seen[str(path.relative_to(self.root))] = path.read_bytes()
        return {what: unprioritised(data.replace(self.root.encode(), b"<dir>"))
                for what, data in seen.items()}

    def readouts(self, seen):
        # The device state in the simulator's words, to show how two state.bin differ: ECC
        # counters of every node, bad blocks, operations, faults, erase counts.
        nodes = len(seen["dev/partitions"].splitlines()) - 1
        return {"simctl " + " ".join(a): unprioritised(b"\n".join(self.call("sim", a)))
                for a in [["status"]] + [["ecc", str(n)] for n in range(1, nodes)]}


def unprioritised(data):
    # System log lines as the messages alone: a simulator that records each line's facility and
    # priority ("user.err nandkeep: ...") compares with one that did not.
    return re.sub(rb"(?m)^[a-z]+\.[a-z]+ nandkeep: ", b"", data)


def show(a, b):
    # Where a and b part: the line (or, in binary data, the bytes) of the first difference.
    if a is None or b is None:
        return "    only in " + ("new" if a is None else "ref")
    at = len(os.path.commonprefix([a, b]))
    start = max(a.rfind(b"\n", 0, at) + 1, at - 24)
    return "    at byte %d of %d / %d:\n    ref %.120r\n    new %.120r" % (
        at, len(a), len(b), a[start:start + 120], b[start:start + 120])


def data_blocks(chip):
    # The blocks of a sparse file that hold data (the simulated flash keeps erased cells as holes).
    end = 0
    with contextlib.suppress(OSError):  # no data past END
        while True:
            start = os.lseek(chip.fileno(), end, os.SEEK_DATA)
            end = os.lseek(chip.fileno(), start, os.SEEK_HOLE)
            yield from range(start // BLOCK, -(-end // BLOCK))


def compare(sides, results):
    # Everything both sides can observe after a step; a difference is one item of the report.
    ref, new = (side.observe(result) for side, result in zip(sides, results))
    if ref.get("dev/state.bin") != new.get("dev/state.bin"):
        ref, new = ({**seen, **side.readouts(seen)} for side, seen in zip(sides, (ref, new)))
    for seen in (ref, new):  # the layout is the simulator's own; the readouts say what it holds
        seen.pop("dev/state.bin", None)
    report = ["  %s differs\n%s" % (what, show(ref.get(what), new.get(what)))
              for what in sorted(set(ref) | set(new)) if ref.get(what) != new.get(what)]
    with open(sides[0].dev + "/flash.bin", "rb") as a, open(sides[1].dev + "/flash.bin", "rb") as b:
        flash = [n for n in sorted(set(data_blocks(a)) | set(data_blocks(b))) if
                 os.pread(a.fileno(), BLOCK, n * BLOCK) != os.pread(b.fileno(), BLOCK, n * BLOCK)]
    if flash:
        report.append("  flash differs in %d blocks: %s" % (len(flash), flash[:12]))
    return report


def make_input(where, name, kind, size, seed):
    path = os.path.join(where, name)
    data = random.Random(int(seed)).randbytes(int(size))
    pathlib.Path(path + ("" if kind == "raw" else ".data")).write_bytes(data)
    if kind != "raw":
        subprocess.run("mkimage -A arm64 -O linux -C none -a 0x80000 -e 0x80000".split() + [
            "-T", kind, "-n", name, "-d", path + ".data", path], check=True,
            stdout=subprocess.DEVNULL, env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
    return path


def play(text, builds, shim, root):
    # Plays a scenario on both sides in ROOT; the differences after the first step that has any.
    steps = [line.split() for line in text.splitlines() if line.strip() and line[0] != "#"]
    clock, inputs = next(words[1] for words in steps if words[0] == "time"), {}
    sides = [Side(os.path.join(root, n), b, shim, clock) for n, b in zip(("ref", "new"), builds)]
    for n, (verb, *args) in enumerate(steps):
        if verb == "input":
            inputs["@" + args[0]] = make_input(root, *args)
        elif verb in ("run", "sim"):
            report = compare(sides, [s.call(verb, [inputs.get(a, a) for a in args]) for s in sides])
            if report:
                return ["step %d (%s):" % (n + 1, " ".join(steps[n]))] + report
        elif verb != "time":
            raise ValueError("step %d: no such step: %s" % (n + 1, verb))
    return []


def play_one(builds, shim, out, seed, scratch, k):  # scenario K, written to OUT, played in SCRATCH
    path, text = os.path.join(out, "%d.txt" % k), "\n".join(Scenario(seed, k).lines) + "\n"
    pathlib.Path(path).write_text(text)
    with tempfile.TemporaryDirectory(dir=scratch) as root:
        try:
            return path, play(text, builds, shim, root), None
        except Exception as e:  # the scenario could not be played: reported, never a pass
            return path, [], "could not run: %s: %s" % (type(e).__name__, e)


def main(ref, new, shim, out, seed, count, jobs, only=None):
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None  # the chips are mapped files
    todo = [int(only)] if only else range(int(count))
    differences = failures = 0
    with tempfile.TemporaryDirectory(prefix="nkdiff-", dir=shm) as scratch, \
            multiprocessing.Pool(int(jobs)) as pool:
        one = functools.partial(play_one, [ref, new], shim, out, int(seed), scratch)
        for played, (path, report, error) in enumerate(pool.imap(one, todo), 1):
            differences, failures = differences + len(report[1:]), failures + bool(error)
            if report or error:
                print("%s: %s" % (path, error or "\n".join(report)), flush=True)
            if played % 100 == 0:
                print("... %d states, %d differences" % (played, differences), file=sys.stderr)
    if failures:
        print("%d scenarios could not run" % failures)
    print("%d states, %d differences" % (len(todo), differences))
    return 1 if differences or failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
