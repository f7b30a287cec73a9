What the MTD character device over nandsim does beneath the tool, which the simulator copies; the
case files that run on both backends check the rest by agreeing.

Every call the tool makes, on a chip with block 5 bad (mtdprobe facts on the kernel, the same
sequence through the simulated nodes), one line per subject with each call's result or errno:
reads, writes and seeks inside and at the end of the chip, erases, bad-block queries and marks
(counted in badblocks), and bits flipped in one ECC step up to the strength and beyond, read
twice through the whole chip or through partition 7 (what the read delivered, what the node's
counters took). The 256 MiB chip differs only in its size and in its strength (4 bits per step).

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128 badblocks=5 && nk_facts 7 0x160000 1 | tee f128
  size 134217728 counters 0 0 1 0
  read: erased 2048 all_ff 1 short 100 unaligned 2048 two_pages 4096 position_after 4096
  write: short EINVAL unaligned EINVAL subpage 512 first 2048 again 2048 stored_and 1 two_pages 4096
  end: lseek 0 read 0 write ENOSPC lseek_past EINVAL write_across 2048 read_across 2048
  erase: unaligned_start EINVAL unaligned_length EINVAL past_end EINVAL zero_length 0 bad EIO
  erase over a bad block: result EIO before_erased 1 after_erased 0 after_alone 0
  getbad: good 0 bad 1 bad_unaligned 1 past_end EINVAL read_bad 2048 write_bad 2048
  setbad: result 0 getbad 1 data_erased 1 badblocks +1 erase EIO again 0 badblocks +1
  correctable: write 2048 read 2048 data_ok 1 counted +1 +0 again +1 +0
  uncorrectable: write 2048 read 2048 data_ok 0 counted +0 +1 again +0 +1
  through the partition: write 2048 read 2048 data_ok 1 counted +1 +0 again +1 +0
  counters: whole chip +0 +0 partition +2 +0
  erase of flipped bits: result 0 read counted +0 +0 all_ff 1
  $ nk_device 256 badblocks=5 && nk_facts 7 0x160000 4 | diff -U0 f128 - | sed 1,2d
  @@ -1 +1 @@
  -size 134217728 counters 0 0 1 0
  +size 268435456 counters 0 0 1 0
  @@ -9 +9 @@
  -correctable: write 2048 read 2048 data_ok 1 counted +1 +0 again +1 +0
  +correctable: write 2048 read 2048 data_ok 1 counted +4 +0 again +4 +0
