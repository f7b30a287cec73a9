The factory tests on small simulated chips, with what only the simulator stages: stuck bits,
failing reads, a stop at a given operation, a partition list that claims more than the chip,
a full or missing RAM disk. dev N makes a fresh chip of N blocks and empties the verify log;
run shows what the tool printed, without blank lines and progress lines.

  $ . "$TESTDIR/lib.sh"
  $ nk_only sim
  $ LOG=$NANDKEEP_SIM_DIR/ramdisk/flashVerifyResult
  $ dev() { nk_device 128 && "$NK_SIMCTL" create --blocks "$1" >/dev/null && rm -f "$LOG"; }
  $ sim() { "$NK_SIMCTL" "$@" >/dev/null; }
  $ run() { nandkeep "$@" >out; s=$?; awk 'NF && !/^Testing progress/' out; return $s; }
  $ tally() { awk '!($0 in n) { o[++k] = $0 } { n[$0]++ } END { for (i = 1; i <= k; i++) print n[o[i]] "x" (o[i] == "" ? "" : " ") o[i] }' "$@"; }
  $ stop_at() { i=0; while [ "$(grep -c "$1" out)" -lt "$2" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done; kill $!; wait $!; }

The flash verify test on 64 blocks, of which one (2 %) may be bad. Block 7, bad beforehand, is
logged by the census and never touched. Block i holds the random reference from byte 4i,
whether the blocks between are bad or not.

  $ dev 64 && printf kept >kept && sim load kept 0xe0000 && sim mark 7 && echo earlier >"$LOG" && run flashVerify
  Find a bad block at offset=0xe0000
  Test Pass.
  $ awk '/^Testing progress/ { printf "%s%s", sep, $3; sep = " " } END { print "" }' out; nk_dump 0xe0000 4 | xargs; nk_dump 0xc0008 0x1fff8 >a && nk_dump 0x100000 0x1fff8 | cmp - a && "$NK_SIMCTL" ops | tail -n 1
  1 2 3 5 6 8 9 11 12 14 15 17 18 20 21 23 24 26 28 29 31 32 34 35 37 38 40 41 43 44 46 47 49 51 52 54 55 57 58 60 61 63 64 66 67 69 70 72 73 75 77 78 80 81 83 84 86 87 89 90 92 93 95 96 98 100
  kept
  non-erased-programs 0

A second bad block is more than 2 %: the total rule fails, once. The log is appended to, and
holds what was printed but the progress.

  $ sim mark 40 && run flashVerify
  Find a bad block at offset=0xe0000
  Find a bad block at offset=0x500000
  FAIL: Total Bad block Num ## 2 ## > 2%
  Test Fail. Error Cnt = 1
  [1]
  $ head -n 1 "$LOG"; tail -n 7 "$LOG" >last && awk '!/^Testing progress/' out | cmp - last
  earlier

Bits of block 4 that read 1 whatever is programmed: the first check sees them, case 0 (zeros)
of its own turn, and the disturb check after both cases of each of the 15 other turns. Each
sighting counts 1 and nothing is marked bad.

  $ dev 16 && sim fault add stuck-bits 4 16 && nandkeep flashVerify >out
  [32]
  $ awk '!/^Testing progress/' out | tally; nk_bad
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

Block 6 wears out at the first erase of its own turn: one new bad block, counted once. Block
9 reads uncorrectably: the first check sees wrong bytes, the disturb check of block 0's turn
sees the failed count rise and retires it. Two new bad blocks of 16 also break the total rule.

  $ dev 16 && sim fault add wear-out 6 1 && sim fault add uncorrectable 9 && nandkeep flashVerify >out
  [5]
  $ awk 'NF && !/^Nandkeep_Compare/' "$LOG"; nk_bad; "$NK_SIMCTL" erasecounts | awk '$1 == 6'
  First image check Find diff sector and set bad block at address = 0x120000
  CheckOtherSector Find diff sector at address = 0x120000
  Find a ## New ## bad block at offset = 0x120000
  Find a ## New ## bad block at offset = 0xc0000
  FAIL: Total Bad block Num ## 2 ## > 2%
  FAIL: Find ## 2 ## new bad block
  FAIL: Find ## 2 ## diff block
  Test Fail. Error Cnt = 5
  6 9
  6 1

A failing write ends the test without a verdict. Erase blocks of 256 KiB are handled whole.

  $ dev 8 && sim fault add program-fail 3 && run flashVerify
  [255]
  $ [ ! -e "$LOG" ] && nk_bad
  3
  $ dev 32 && printf 'dev:    size   erasesize  name\nmtd0: 00400000 00040000 "linux"\n' >"$NANDKEEP_SIM_DIR/proc_mtd" && run flashVerify
  Test Pass.

The life-cycle test applies the total rule only to the whole device (16 blocks allow none);
a block that cannot hold zeros differs in every cycle. A range past the device end (4 GiB, or
one byte past the chip) is refused before any request: the missing blocks would count as bad.

  $ dev 16 && sim mark 5 && sim fault add stuck-bits 1 4 && run lifeCycleTest 1e0000 1
  Find a bad block at offset=0xa0000
  Erase all 1000 times Num. 0
  Find diff sector at address = 0x20000
  Erase all 1000 times Num. 1
  Find diff sector at address = 0x20000
  FAIL: Find ## 2 ## diff block
  Test Fail. Error Cnt = 2
  [2]
  $ nandkeep lifeCycleTest 200000 0 >out
  [2]
  $ awk '/FAIL/' out; nk_erased >/dev/null
  FAIL: Total Bad block Num ## 1 ## > 2%
  FAIL: Find ## 1 ## diff block
  $ for len in 100000000 2000001; do nandkeep lifeCycleTest $len 0; echo $?; done; nk_erased
  
   Nandkeep notify -> length runs past the device end
  255
  
   Nandkeep notify -> length runs past the device end
  255

The unstable-bits test prints only. A pattern word is read as hexadecimal and its low byte
fills the good blocks; the write step erases, programs and checks them, skipping bad block 2.

  $ dev 4 && sim mark 2 && nandkeep unstableBitsTestWrite 0x3c extra >out && awk '!/^At 0x[0-9A-F]* offset ECC corrected = 0, failed = 0$/' out
  erase all
  Find a bad block at offset=0x40000
  Find ## 1 ## bad block
  write image to flash
  check flash image
  Write unstable bits pattern: 0x3c Pass
  Current ECC corrected = 0, failed = 0, badblocks = 1, bbtblocks = 0
  At 0x40000 offset is bad blcok!!(skip)
  $ nk_erased; nk_dump 0 0x80000 | od -Ax -tx1 | cut -c1-9 | xargs
  0-1 3
  000000 3c * 040000 ff * 060000 3c * 080000
  $ nandkeep unstableBitsTestCheck 3c >out && sed -n 4p out
  Check unstable bits pattern: 3c Pass
  $ nandkeep unstableBitsTestWrite 155 >out && sed -n 6p out && nk_dump 0x60000 4 | nk_hex && nandkeep unstableBitsTestCheck 55zz >out && sed -n 4p out
  Write unstable bits pattern: 155 Pass
  55 55 55 55
  Check unstable bits pattern: 55zz Pass

A constant pattern does not notice a block turned bad since the write step. The first block
that differs fails the step, not the status; a failing ECC report does. Without good blocks
both steps pass and the write step touches nothing.

  $ sim mark 1 && nandkeep unstableBitsTestCheck 55 >out && sed -n 5p out
  Check unstable bits pattern: 55 Pass
  $ sim fault add stuck-bits 0 4 && sim fault add stuck-bits 3 4 && nandkeep unstableBitsTestCheck 55 >out && awk '/diff|pattern/' out
  Find diff sector at address = 0x0
  Check unstable bits pattern: 55 Fail
  $ sim fault clear 0 && sim fault add short-read 5 && nandkeep unstableBitsTestCheck 55 >out
  [255]
  $ sim mark 0 && sim mark 3 && nandkeep unstableBitsTestWrite rand >out && awk '/##|pattern/' out && nk_dump 0 4 | nk_hex && nandkeep unstableBitsTestCheck rand | awk '/pattern/'
  Find ## 4 ## bad block
  Write unstable bits pattern: rand Pass
  55 55 55 55
  Check unstable bits pattern: rand Pass

The screening scan runs until it is stopped. Block 5 takes four erases: it holds ff, 0, f and
f0, fails to erase in the 5a pass, keeps f0 AND 5a and is retired there, once. A failing write
retires block 9 silently; block 3, bad beforehand, is never erased.

  $ dev 16 && sim mark 3 && sim fault add wear-out 5 4 && sim fault add program-fail 9; nandkeep badBlockManagement >out & stop_at '^Pattern' 20
  Terminated
  [143]
  $ awk '/^Pattern/ { if (++n <= 17) { p = p sep $3; sep = " " } next } { print n ": " $0 } END { print p }' out
  5: find a bad block
  5:  Nandkeep notify -> Image is not match.
  5: Offset 0xa0000 Is bad block
  ff 0 f f0 5a a5 69 96 ff 0 f f0 5a a5 69 96 ff
  $ nk_bad; "$NK_SIMCTL" erasecounts | awk '$2 < 10'
  3 5 9
  5 4
  9 2

Stopped at its 25th operation, the first erase of the fourth pass, the scan leaves the other
blocks holding the third pass's pattern.

  $ dev 4 && sim fault add powercut 25 && nandkeep badBlockManagement >out
  Killed
  [137]
  $ xargs <out; nk_dump 0x20000 0x60000 | od -An -tx1
  Pattern is ff Pattern is 0 Pattern is f Pattern is f0
   0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f 0f
  *

A partition list that claims an absurd size: walks over it stop at 4 GiB (the blocks past the
chip read as bad), and a life-cycle test of the whole device is refused.

  $ dev 16 && printf 'dev:    size   erasesize  name\nmtd0: ffffffffffffffff 00020000 "linux"\n' >"$NANDKEEP_SIM_DIR/proc_mtd" && run lifeCycleTest
   Nandkeep notify -> range runs past 4 GiB
  [255]
  $ nandkeep unstableBitsTestWrite 55 >out && sed -n '/##/p;$p' out
  Find ## 32752 ## bad block
  At 0xFFFE0000 offset is bad blcok!!(skip)
  $ nandkeep badBlockManagement >out & stop_at 'Pattern is 0' 1; head -n 2 out | xargs
  Terminated
  Pattern is ff Pattern is 0

The verify log: a write that does not reach it ends the test with status 1 (a full file
system shows only when the write is flushed), and so does a missing RAM disk.

  $ dev 16 && ln -s /dev/full "$LOG" && run lifeCycleTest 0 0
  Erase all 1000 times Num. 0
   Nandkeep notify -> fwrite()
  [1]
  $ rm -r "$NANDKEEP_SIM_DIR/ramdisk" && run lifeCycleTest 0 0
   Nandkeep notify -> fopen()
  */flash/ramdisk/flashVerifyResult (glob)
  [1]
