One of each thing a case stages, so that both backends are seen to agree on them: a factory-bad
block, an erase list around it, a write and its bytes, a flipped bit, a system-log line.

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128 badblocks=12
  $ nk_bad
  12
  $ nandkeep badBlockReport
  Find a bad block at offset = 0x180000
  $ nandkeep erase 160000 80000
  $ nk_erased
  11 13-14
  $ nandkeep write "$IN/A.kernel" 1a0000 200000
  $ nk_erased
  13-28
  $ nk_same 0x1a0000 "$IN/A.kernel"
  same
  $ nk_flip 0x1a0041 1
  $ nk_dump 0x1a0040 6 | nk_hex
  32 08 33 0a 34 0a
  $ nandkeep eccStatus 1a0000 20000
  Current ECC corrected = 0, failed = 0, badblocks = 1, bbtblocks = 0
  At 0x1A0000 offset ECC corrected = 1, failed = 0
  $ nk_ecc
  corrected 1 failed 0

Output to a pipe nobody reads any more: the tool logs the lost connection and carries on.

  $ (sleep 1; nandkeep info; echo "status $?" >status) | true; cat status
  status 0
  $ nk_syslog
  user.err nandkeep: Lost connection while upgrading firmware!
  $ nk_syslog
