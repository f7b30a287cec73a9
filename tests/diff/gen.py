#!/usr/bin/env python3
"""Draws seeded scenarios for the differential campaign (see run.sh).

A scenario is a text file, one step a line, that runner.py plays on two builds:

  time T                         the clock the tool sees (flashVerify seeds rand() with it)
  input NAME KIND SIZE SEED      an input file: SIZE seeded random bytes; KIND raw, or an image
                                 type for mkimage (kernel, firmware, ramdisk) with SIZE data bytes
  sim ARGS...                    nandkeep-simctl ARGS (create, fault add, flip, mark, ...)
  poke OFFSET HEX                the bytes HEX written raw at chip OFFSET (simctl load)
  run ARGS...                    nandkeep-sim ARGS; @NAME is the path of input NAME, any other
                                 file name is written in the command's own directory

Scenario K of seed S depends on S and K only: `gen.py --seed S --index K` prints it again.
Usage: gen.py --seed S (--count N --out DIR | --index K)
"""
import argparse
import os
import random

BLOCK = 0x20000
HEADER = 64  # mkimage header in front of the data
KERNEL_COPIES = (0x300000, 0xC00000)  # normal, backup; 0x900000 each
KERNEL_REGION = 0x900000
ROOTFS_COPIES = (0x1500000, 0x3500000)
ROOTFS_REGION = 0x2000000
BOOT = 0x20000
JFFS2_SPAN = (0x160000, 0x1A0000)
TABLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "tables")


class Layout:
    """The simulator's default partition table of a profile: records 0 (the whole device), 3
    (flashfs2), 4 (NFDI) and the third last (flashfs1)."""

    def __init__(self, profile):
        with open(os.path.join(TABLES, "mtd%d.txt" % profile)) as f:
            parts = [(int(w[1], 16), int(w[2], 16)) for w in map(str.split, f)
                     if w and not w[0].startswith("#")]
        self.profile, self.size = profile, parts[0][1]
        self.flashfs2, self.nfdi, self.flashfs1 = parts[3], parts[4], parts[-3]
        self.bbt = 4 if profile == 128 else 52  # blocks at the device end no store uses


def sub_image(start, data_size):
    """Where the sub-image behind an image lies: the next 128 KiB boundary past its end."""
    return (start + HEADER + data_size) // BLOCK * BLOCK + BLOCK


class Scenario:
    def __init__(self, seed, index):
        self.r = random.Random("%d/%d" % (seed, index))
        self.lines = ["# scenario %d of seed %d" % (index, seed)]

    def add(self, *words):
        self.lines.append(" ".join(str(w) for w in words if str(w)))

    def input(self, name, kind, size):
        self.add("input", name, kind, size, self.r.getrandbits(32))
        return "@" + name

    def hexn(self, n):
        return ("0x%X" if self.r.random() < 0.3 else "%X") % n

    # --- sizes ----------------------------------------------------------------------------

    def image_size(self, most, limit, fill):
        """Data size of a kernel or rootfs image: often ending on or beside a block boundary."""
        r = self.r
        x = r.random()
        if x < 0.3:
            k = r.randint(1, most // BLOCK)
            return k * BLOCK - HEADER + r.choice((0, 0, -1, 1))
        if x < 0.36:
            return r.choice((0x1FFBF, 0x1FFC0, 0x1FFC1))
        if x < 0.36 + fill:  # an image that leaves no room, or one block, for its sub-image
            return limit - HEADER - r.choice((0, 0, 1, BLOCK, BLOCK + 1))
        return r.randint(0x1FFC0, most)

    def record_size(self, most):
        r = self.r
        x = r.random()
        if x < 0.1:
            return 0
        if x < 0.3:
            return r.choice((0x1FFF7, 0x1FFF8, 0x1FFF9, 0x1FFFC, 0x3FFF8, 0x3FFF9))
        if x < 0.6:
            return r.randint(1, 0x400)
        return r.randint(1, most)

    def firmware_set(self, name, lay):
        r = self.r
        big = r.random() < 0.02
        self.ksize = self.image_size(0x900000 if big else 0x200000, KERNEL_REGION, 0.04)
        self.rsize = self.image_size(0xC00000 if big else 0x400000, ROOTFS_REGION, 0.01)
        x = r.random()
        dsize = r.choice((0x1FFBF, 0x1FFC0 - HEADER, 0x1FFC0 - HEADER - 1, 0x1FFC0 - HEADER + 1,
                          0x1FFC0)) if x < 0.15 else r.randint(1, 0x8000 if x < 0.85 else 0x1FFBF)
        boot = r.choice((0x140000, 0x140001)) if r.random() < 0.05 else r.randint(1, 0x60000)
        files = (self.input(name + ".boot", "raw", boot),
                 self.input(name + ".kernel", "kernel", self.ksize),
                 self.input(name + ".dtb", "firmware", dsize),
                 self.input(name + ".rootfs", "ramdisk", self.rsize),
                 self.input(name + ".defconf", "raw", self.record_size(0x30000)))
        self.dsize = dsize
        return files

    # --- where things are -------------------------------------------------------------------

    def target(self, lay):
        """A chip offset inside something that matters: an image copy, its sub-image, a record."""
        r = self.r
        c = r.randint(0, 1)
        what = r.choice(("kernel", "rootfs", "dtb", "defconf", "tempconf", "tempdata", "nfdi",
                         "boot", "any"))
        if what in ("kernel", "rootfs"):
            start, size = ((KERNEL_COPIES[c], self.ksize) if what == "kernel" else
                           (ROOTFS_COPIES[c], self.rsize))
            part = r.choice(("header", "data", "last"))
            if part == "header":
                return start + r.randint(0, HEADER - 1)
            if part == "last":
                return start + HEADER + size - 1
            return start + HEADER + r.randint(0, max(size - 1, 0))
        if what == "dtb":
            return sub_image(KERNEL_COPIES[c], self.ksize) + r.randint(0, HEADER + 16)
        if what == "defconf":
            return sub_image(ROOTFS_COPIES[c], self.rsize) + r.randint(0, 16)
        ffs_start, ffs_size = lay.flashfs2
        if what == "tempconf":
            return ffs_start + ffs_size - BLOCK * (c + 1) + r.randint(0, 16)
        if what == "tempdata":
            return ffs_start + r.randint(0, 16)
        if what == "nfdi":
            return lay.nfdi[0] + r.choice((0, lay.nfdi[1] // 2 - BLOCK, BLOCK)) + r.randint(0, 16)
        if what == "boot":
            return BOOT + r.randint(0, 0x100)
        return r.randrange(0, lay.size - BLOCK * lay.bbt)

    # --- faults -----------------------------------------------------------------------------

    def fault(self, lay, stage):
        """One fault armed between steps; stage 'pre' is before the first upgrade."""
        r = self.r
        b = self.target(lay) // BLOCK
        page = "--page %d" % r.randint(0, 63) if r.random() < 0.4 else ""
        kinds = ["bad", "erase-fail", "wear-out", "stuck-bits", "bitflip", "uncorrectable"]
        if stage != "pre":
            kinds += ["poke", "poke", "flip", "decay", "program-fail", "program-lost",
                      "short-read", "short-write", "powercut", "powercut", "bitflip", "flip",
                      "bitflip", "flip"]  # corrections in a healthy pair show only in the counters
        kind = r.choice(kinds)
        if kind == "poke":
            n = r.randint(1, 4)
            self.add("poke", "0x%X" % self.target(lay), r.randbytes(n).hex())
        elif kind == "flip":
            self.add("sim flip", "0x%X" % self.target(lay), r.choice((1, 1, 1, 2, 3, 4, 5, 14)))
        elif kind == "wear-out":
            self.add("sim fault add wear-out", b, r.randint(0, 3))
        elif kind in ("stuck-bits", "bitflip"):
            self.add("sim fault add", kind, b, r.randint(1, 6), page)
        elif kind in ("uncorrectable", "decay"):
            self.add("sim fault add", kind, b, page)
        elif kind in ("short-read", "short-write"):
            self.add("sim fault add", kind, r.randint(1, 8))
        elif kind == "powercut":
            self.add("sim fault add powercut", r.randint(1, 60))
        else:
            self.add("sim fault add", kind, b)

    # --- commands ---------------------------------------------------------------------------

    def command(self, lay):
        r = self.r
        x = r.random()
        n = len(self.lines)
        if x < 0.26:
            self.add("run systemRecovery", r.choice(("", "1", "3")))
        elif x < 0.32:
            self.add("run upgradeFW", *r.choice(self.sets))
        elif x < 0.45:
            self.write_range(lay)
        elif x < 0.80:
            kind = r.choice(("tempconf", "tempdata", "NFDI", "defconf"))
            verb = r.choice(("write", "write", "read", "check"))
            if verb == "write":
                most = {"tempconf": 0x20000, "tempdata": 0x80000, "NFDI": 0xC0000,
                        "defconf": 0x30000}[kind]
                f = self.input("%s%d" % (kind, n), "raw", self.record_size(most))
                self.add("run write" + kind, f)
            elif verb == "read":
                self.add("run read" + kind, "%s%d.out" % (kind, n))
            else:
                self.add("run check" + kind)
        elif x < 0.85:
            self.add("run eraseRootfs")
        elif x < 0.90:
            self.add("run badBlockReport")
        elif x < 0.96:
            start = self.target(lay) // BLOCK * BLOCK
            self.add("run eccStatus", self.hexn(start), self.hexn(r.choice((1, 2, 3, 8)) * BLOCK -
                                                                   r.choice((0, 0, 0x100))))
        else:  # the usage path
            self.add("run", r.choice(("systemRecovery 2", "upgradeFW", "frobnicate", "write x",
                                      "checktempconf now", "readNFDI", "")))

    def write_range(self, lay):
        r = self.r
        size = r.randint(1, 0x80000)
        f = self.input("w%d" % len(self.lines), "raw", size)
        area = r.choice((lay.flashfs1, JFFS2_SPAN, (KERNEL_COPIES[1], KERNEL_REGION),
                         (ROOTFS_COPIES[r.randint(0, 1)], ROOTFS_REGION), lay.flashfs2))
        start = area[0] + r.randrange(0, max(area[1] // BLOCK - 1, 1)) * BLOCK
        if r.random() < 0.05:
            start += r.choice((0x200, 0x800))
        x = r.random()
        length = (size if x < 0.3 else -(-size // BLOCK) * BLOCK if x < 0.5 else
                  r.randint(1, size) if x < 0.6 else size + r.randint(1, 2 * BLOCK))
        self.add("run write", f, self.hexn(start), self.hexn(length))

    # --- the three kinds of scenario ----------------------------------------------------------

    def firmware(self):
        r = self.r
        lay = Layout(256 if r.random() < 0.25 else 128)
        self.sets = [self.firmware_set("A", lay)]
        first = (self.ksize, self.rsize, self.dsize)
        self.sets.append(self.firmware_set("B", lay))
        if r.random() < 0.5:
            self.ksize, self.rsize, self.dsize = first  # damage aims at the set kept below
        self.add("sim create --profile", lay.profile, "--seed", r.getrandbits(32))
        for _ in range(r.choice((0, 0, 1, 1, 2, 3))):
            self.fault(lay, "pre")
        self.add("run upgradeFW", *self.sets[0])
        for kind, most in (("tempconf", 0x1FFF8), ("tempdata", 0x60000), ("NFDI", 0xA0000)):
            if r.random() < 0.5:
                self.add("run write" + kind, self.input(kind + "0", "raw", r.randint(0, most)))
        if r.random() < 0.35:
            if r.random() < 0.5:
                self.add("sim fault add powercut", r.randint(1, 120))
            self.add("run upgradeFW", *self.sets[1])
        for _ in range(r.choice((0, 1, 1, 2, 3))):
            self.fault(lay, "damage")
        for _ in range(r.randint(2, 6 if lay.profile == 128 else 4)):
            for _ in range(r.choice((0, 0, 0, 1, 1, 2))):
                self.fault(lay, "between")
            self.command(lay)

    def recovery(self):
        """A healthy or nearly healthy pair under correctable reads, recovered again and again:
        the recovery's single pass shows its reads only in the ECC counters."""
        r = self.r
        lay = Layout(256 if r.random() < 0.6 else 128)
        self.sets = [self.firmware_set("A", lay)]
        self.add("sim create --profile", lay.profile, "--seed", r.getrandbits(32))
        self.add("run upgradeFW", *self.sets[0])
        strength = 4 if lay.profile == 256 else 1
        for _ in range(r.randint(1, 3)):
            c = r.randint(0, 1)
            start, size = r.choice(((KERNEL_COPIES[c], self.ksize), (ROOTFS_COPIES[c], self.rsize)))
            where = start + r.randrange(0, HEADER + size, 0x800)
            if r.random() < 0.5:
                self.add("sim flip", "0x%X" % (where + r.randrange(0, 0x800 - 16)),
                         r.randint(1, strength))
            else:
                self.add("sim fault add bitflip", where // BLOCK, r.randint(1, strength),
                         "--page %d" % (where % BLOCK // 0x800))
        if r.random() < 0.3:
            self.fault(lay, "damage")
        for _ in range(r.randint(2, 4)):
            if r.random() < 0.2:
                self.add("run", r.choice(("checkdefconf", "eccStatus %X 40000" % KERNEL_COPIES[0])))
            self.add("run systemRecovery", r.choice(("", "", "1", "3")))

    def factory(self):
        r = self.r
        blocks = r.randint(12, 32)
        self.add("sim create --blocks", blocks, "--seed", r.getrandbits(32))
        for _ in range(r.choice((0, 1, 1, 2, 3))):
            b = r.randrange(blocks)
            kind = r.choice(("bad", "bad", "mark", "wear-out", "erase-fail", "stuck-bits",
                             "uncorrectable", "bitflip", "program-fail", "decay"))
            if kind == "mark":
                self.add("sim mark", b)
            elif kind == "wear-out":
                self.add("sim fault add wear-out", b, r.randint(0, 4))
            elif kind in ("stuck-bits", "bitflip"):
                self.add("sim fault add", kind, b, r.randint(1, 3))
            else:
                self.add("sim fault add", kind, b)
        if r.random() < 0.15:
            self.add("sim fault add powercut", r.randint(1, blocks * 8))
        self.add("run flashVerify")
        if r.random() < 0.5:
            self.add("run", r.choice(("badBlockReport", "eccStatus 0 %X" % (blocks * BLOCK))))


def scenario(seed, index):
    s = Scenario(seed, index)
    s.add("time", 1600000000 + s.r.getrandbits(28))
    x = s.r.random()
    if x < 0.1:
        s.factory()
    elif x < 0.2:
        s.recovery()
    else:
        s.firmware()
    return "\n".join(s.lines) + "\n"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--seed", type=int, required=True)
    p.add_argument("--count", type=int)
    p.add_argument("--out")
    p.add_argument("--index", type=int)
    a = p.parse_args()
    if a.index is not None:
        print(scenario(a.seed, a.index), end="")
        return
    if a.count is None or a.out is None:
        p.error("give --count and --out, or --index")
    os.makedirs(a.out, exist_ok=True)
    for i in range(a.count):
        with open(os.path.join(a.out, "s%05d.txt" % i), "w") as f:
            f.write(scenario(a.seed, i))


if __name__ == "__main__":
    main()
