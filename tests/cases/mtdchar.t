What the MTD character device over nandsim does beneath the tool, which the simulator copies.

A bad-block mark erases the block first and counts in badblocks, again when the block is marked
again; an erase request stops with EIO at a bad block, after the blocks before it.

  $ . "$TESTDIR/lib.sh"
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
