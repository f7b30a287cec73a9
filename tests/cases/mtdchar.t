What the MTD character device over nandsim does beneath the tool, which the simulator copies.

Every call the tool makes, on a chip with block 5 bad (mtdprobe facts on the kernel, the same
sequence through the simulated nodes): reads, writes and seeks inside and at the end of the
chip, erases, bad-block queries and marks, and bits flipped in one ECC step up to the strength
and beyond, read through the whole chip and through partition 7. The 256 MiB chip differs only
in its size and in its strength (4 bits per step).

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128 badblocks=5 && nk_facts 7 0x160000 1 | tee f128
  size 134217728
  ecc.start 0 0 1 0
  read.erased 2048
  read.erased.all_ff 1
  read.short 100
  read.unaligned 2048
  read.two_pages 4096
  read.position_after 4096
  write.short EINVAL
  write.unaligned EINVAL
  write.subpage 512
  write.first 2048
  write.again 2048
  write.again.stored_and 1
  write.two_pages 4096
  lseek.size 0
  read.at_end 0
  write.at_end ENOSPC
  lseek.past_end EINVAL
  write.across_end 2048
  read.across_end 2048
  erase.unaligned_start EINVAL
  erase.unaligned_length EINVAL
  erase.past_end EINVAL
  erase.zero_length 0
  erase.bad EIO
  erase.across_bad EIO
  erase.across_bad.before_erased 1
  erase.across_bad.after_erased 0
  erase.good 0
  getbad.good 0
  getbad.bad 1
  getbad.bad_unaligned 1
  getbad.past_end EINVAL
  read.bad 2048
  write.bad 2048
  setbad 0
  setbad.getbad 1
  setbad.data_erased 1
  setbad.badblocks +1
  setbad.erase EIO
  setbad.again 0
  setbad.again.badblocks +1
  flip.correctable.read 2048
  flip.correctable.data_ok 1
  flip.correctable.corrected +1 failed +0
  flip.correctable.reread.corrected +1 failed +0
  flip.uncorrectable.read 2048
  flip.uncorrectable.data_ok 0
  flip.uncorrectable.corrected +0 failed +1
  flip.uncorrectable.reread.corrected +0 failed +1
  flip.partition.read 2048
  flip.partition.data_ok 1
  flip.partition.corrected +1 failed +0
  flip.partition.reread.corrected +1 failed +0
  flip.partition.whole_chip_counter +0 +0
  flip.partition.partition_counter +2 +0
  erase.flipped 0
  erase.flipped.read_after +0 +0 all_ff 1
  $ nk_device 256 badblocks=5 && nk_facts 7 0x160000 4 | diff -U0 f128 - | sed 1,2d
  @@ -1 +1 @@
  -size 134217728
  +size 268435456
  @@ -46,2 +46,2 @@
  -flip.correctable.corrected +1 failed +0
  -flip.correctable.reread.corrected +1 failed +0
  +flip.correctable.corrected +4 failed +0
  +flip.correctable.reread.corrected +4 failed +0

A bad-block mark erases the block first and counts in badblocks, again when the block is marked
again; an erase request stops with EIO at a bad block, after the blocks before it.

  $ nk_device 128 badblocks=12
  $ nandkeep write "$IN/A.kernel" 1a0000 200000
  $ nk_erased
  13-28
  $ nandkeep setBadBlockToBBT 1a0000
  $ nk_erased
  13
  $ nk_erased_range 0x1a0000 0x20000
  erased
  $ nandkeep setBadBlockToBBT 1a0000
  $ nk_erased
  $ nk_bad
  12-13
  $ nandkeep eccStatus 180000 40000
  Current ECC corrected = 0, failed = 0, badblocks = 3, bbtblocks = 0
  At 0x180000 offset is bad blcok!!(skip)
  At 0x1A0000 offset is bad blcok!!(skip)
  $ nandkeep badBlockErase 160000 80000
  
   Nandkeep notify -> erase fail
  [255]
  $ nk_erased
  11

Bits flipped behind the ECC's back: one bit in a 256-byte step is corrected at every read, two
are not; the raw bytes show them; an erase cures the block.

  $ nk_flip 0x1c0041 1
  $ nk_flip 0x1e0000 2
  $ nk_dump 0x1c0040 6 | nk_hex
  37 08 32 33 36 39
  $ nk_dump 0x1e0000 6 | nk_hex
  34 32 32 0a 34 35
  $ nk_ecc
  corrected 0 failed 0
  $ nandkeep eccStatus 1c0000 40000
  Current ECC corrected = 0, failed = 0, badblocks = 3, bbtblocks = 0
  At 0x1C0000 offset ECC corrected = 1, failed = 0
  At 0x1E0000 offset ECC corrected = 1, failed = 1
  $ nandkeep eccStatus 1c0000 20000
  Current ECC corrected = 1, failed = 1, badblocks = 3, bbtblocks = 0
  At 0x1C0000 offset ECC corrected = 2, failed = 1
  $ nk_ecc
  corrected 2 failed 1
  $ nandkeep erase 1c0000 40000
  $ nk_erased
  14-15
  $ nandkeep eccStatus 1c0000 40000
  Current ECC corrected = 2, failed = 1, badblocks = 3, bbtblocks = 0
  At 0x1C0000 offset ECC corrected = 2, failed = 1
  At 0x1E0000 offset ECC corrected = 2, failed = 1
  $ nk_erased_range 0x1c0000 0x40000
  erased

The 256 MiB chip corrects four bits per 512 bytes.

  $ nk_device 256
  $ nk_bad
  $ nk_erased
  $ nandkeep write "$IN/A.kernel" 1a0000 200000
  $ nk_erased
  13-28
  $ nk_flip 0x1a0040 4
  $ nk_flip 0x1c0000 5
  $ nandkeep eccStatus 1a0000 40000
  Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  At 0x1A0000 offset ECC corrected = 4, failed = 0
  At 0x1C0000 offset ECC corrected = 4, failed = 1
  $ nk_ecc
  corrected 4 failed 1
