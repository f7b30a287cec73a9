The factory tests with what only the simulator stages: stuck bits, corrections at every read of
a page, a verify log that fails, a stop at a given operation, a missing RAM disk.
tally counts equal lines.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ sim() { "$NK_SIMCTL" "$@" >/dev/null; }; tally() { awk '!($0 in n) { o[++k] = $0 } { n[$0]++ } END { for (i = 1; i <= k; i++) print n[o[i]] "x" (o[i] == "" ? "" : " ") o[i] }' "$@"; }

Bits of block 4 that read 1 whatever is programmed: the first check sees them, case 0 (zeros)
of its own turn, and the disturb check after both cases of each of the 15 other turns. Each
sighting counts 1, is logged to the system log, and nothing is marked bad.

  $ nk_device 128 overridesize=4 && sim fault add stuck-bits 4 16 && nandkeep flashVerify >out
  [32]
  $ awk '!/^Testing progress/' out | tally; nk_bad; nk_syslog | tally
  1x First image check Find diff sector and set bad block at address = 0x80000
  2x Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  2x At 0x80000 offset ECC corrected = 0, failed = 0
  30x The image is differnet, ulMTDOffset = 0x00080000
  30x The image memcmp = [1-9][0-9]* (re)
  30x CheckOtherSector Find diff sector at address = 0x80000
  1x Sub pattern case 0, Find diff sector and set bad block at address = 0x80000
  1x FAIL: Find ## 32 ## diff block
  3x
  1x Test Fail. Error Cnt = 32
  30x user.err nandkeep: NANDKEEP ERROR! Compare image fail!

The verify comparison logs a correction and still compares the bytes, retires a block on an
uncorrectable read, and logs the counters it judged by.

  $ sim create --blocks 3 && sim fault add bitflip 1 && sim fault add uncorrectable 2 && nandkeep flashVerify >out
  [4]
  $ grep CompareVerify out; nk_bad
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 2
  Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 2
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x20000
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 2
  Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 3
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x40000
  Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = 0x40000
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 3
  Nandkeep_CompareVerifyBufAndMTD stECCStats.failed = 3
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x20000
  2

A log that cannot take the first of those lines stops the test right there.

  $ sim create --blocks 3 && sim fault add bitflip 1 && sim fault add uncorrectable 2 && nk_fail log 2 && nandkeep flashVerify >out; echo $?; sed -n '/CompareVerify/,$p' out | awk 'NF && !/^Testing progress/'
  1
  Nandkeep_CompareVerifyBufAndMTD stECCStats.corrected = 2
   Nandkeep notify -> fwrite()

A verify result log that cannot take a message, each of a verify's messages in turn: the test stops
right after the notify, with status 1, whatever it was doing.

  $ nk_device 128 overridesize=4 badblocks=7 weakblocks=6:1 && sim fault add stuck-bits 4 16 && nk_sweep log-fail nandkeep flashVerify
  1x 1 Find a bad block at offset=0xe0000 Nandkeep notify -> fwrite()
  1x 1 First image check Find diff sector and set bad block at address = 0x80000 Nandkeep notify -> fwrite()
  26x 1 The image is differnet, ulMTDOffset = 0x00080000 Nandkeep notify -> fwrite()
  26x 1 The image memcmp = N Nandkeep notify -> fwrite()
  26x 1 CheckOtherSector Find diff sector at address = 0x80000 Nandkeep notify -> fwrite()
  1x 1 Sub pattern case 0, Nandkeep notify -> fwrite()
  1x 1 Sub pattern case 0, Find diff sector and set bad block at address = 0x80000 Nandkeep notify -> fwrite()
  1x 1 find a bad blockFind a ## New ## bad block at offset = 0xc0000 Nandkeep notify -> fwrite()
  1x 1 FAIL: Total Bad block Num ## 2 ## > 2% Nandkeep notify -> fwrite()
  1x 1 FAIL: Find ## 1 ## new bad block Nandkeep notify -> fwrite()
  1x 1 FAIL: Find ## 28 ## diff block Nandkeep notify -> fwrite()
  1x 1 Test Fail. Error Cnt = 30 Nandkeep notify -> fwrite()

Stopped at its 25th operation, the first erase of the fourth pass, the screening scan leaves
the other blocks holding the third pass's pattern.

  $ nk_device 128 overridesize=2 && sim fault add powercut 25 && nandkeep badBlockManagement >out
  Killed
  [137]
  $ xargs <out; nk_dump 0x20000 0x60000 | od -An -tx1
  Pattern is ff Pattern is 0 Pattern is f Pattern is f0
   0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f
  *

Stopped right after it retired a block (at the erase of the next one), it has said so.

  $ nk_device 128 overridesize=4 gravepages=$((6 * 64)):0 && sim fault add powercut 16 && nandkeep badBlockManagement >out
  Killed
  [137]
  $ xargs <out
  Pattern is ff Nandkeep notify -> Image is not match. Offset 0xc0000 Is bad block

flashVerify stopped at its first program (its fifth operation) has printed its progress so far.

  $ nk_device 128 overridesize=2 && sim fault add powercut 5 && nandkeep flashVerify >out
  Killed
  [137]
  $ cat out
  Testing progress 1 / 100 ...

A missing RAM disk ends a test with status 1.

  $ rm -r "$NANDKEEP_SIM_DIR/ramdisk" && nandkeep lifeCycleTest 0 0 >out; echo $?; awk NF out
  1
   Nandkeep notify -> fopen()
  */flash/ramdisk/flashVerifyResult (glob)
