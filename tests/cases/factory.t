The factory tests on the whole chip; they destroy its contents. run shows what the tool
printed, without blank lines and progress lines; erases counts the erases of each block since
it was last asked. Small chips (overridesize=K: 2^K blocks, one partition) keep the tests that
visit every block short.

  $ . "$TESTDIR/lib.sh"
  $ run() { nandkeep "$@" >out; s=$?; awk 'NF && !/^Testing progress/' out; return $s; }
  $ erases() { nk_erased >erased; awk '{ for (i = 1; i <= NF; i++) { k = split($i, r, "-"); for (b = r[1]; b <= r[k]; b++) n[b]++ } } END { for (b = 0; b < 2048; b++) if (b in n) printf "%s%d:%d", s++ ? " " : "", b, n[b]; if (s) print "" }' erased; }
  $ nk_device 128 badblocks=2 weakblocks=3:500 weakpages=321:0

Block 5 fails to program from its second page on: the first page still takes the bad-block
marker, as on a real chip, where a block whose first page cannot be programmed cannot be marked.

The life-cycle test. Length 0 visits no block and still runs the default 1001 cycles; words
after the length keep that count.

  $ nandkeep lifeCycleTest 0 >out && awk 'NR == 1 || NR > 1000' out && wc -l <out && nandkeep lifeCycleTest 0 1 2 | cmp - out && erases
  Erase all 1000 times Num. 0
  Erase all 1000 times Num. 1000
  
  
  
  Test Pass.
  1005

A count of 1 runs two cycles; each erases the range 1001 times, and the blocks end holding
zeros. The census covers only the range: bad block 2 is not logged.

  $ run lifeCycleTest 40000 1 && erases && nk_dump 0 0x40000 | tr -d '\000' | wc -c
  Erase all 1000 times Num. 0
  Erase all 1000 times Num. 1
  Test Pass.
  0:2002 1:2002
  0

Words that do not convert whole are warned about and used as far as they go; a partial last
block is visited whole.

  $ run lifeCycleTest 20000 zz && erases
  input cycle [zz] (base hex), but get [0]
  Erase all 1000 times Num. 0
  Test Pass.
  0:1001
  $ run lifeCycleTest 12x4 0 && erases && nk_dump 0 0x20000 | tr -d '\000' | wc -c
  input size [12x4] (base hex), but get [12]
  Erase all 1000 times Num. 0
  Test Pass.
  0:1001
  0

A bad block of the range is logged by the census and never erased; a block that wears out is
logged once as new and skipped afterwards.

  $ run lifeCycleTest 80000 1
  Find a bad block at offset=0x40000
  Erase all 1000 times Num. 0
  find a bad blockFind a ## New ## bad block at offset = 0x60000
  Erase all 1000 times Num. 1
  FAIL: Find ## 1 ## new bad block
  Test Fail. Error Cnt = 1
  [1]
  $ erases; nk_bad
  0:2002 1:2002 3:502
  2-3

A failing write ends the test at once, without a verdict. A range that ends past 4 GiB is
refused before any request.

  $ run lifeCycleTest c0000 0
  Find a bad block at offset=0x40000
  Find a bad block at offset=0x60000
  Erase all 1000 times Num. 0
  [255]
  $ nk_bad; nk_erased >/dev/null
  2-3 5
  $ run lifeCycleTest 100000001 0
   Nandkeep notify -> range runs past 4 GiB
  [255]
  $ erases

A block that can neither be erased nor marked bad (its marker page refuses programs) ends the
test at once as well, in its first erase of the range. The unstable-bits write step stops there
too, before it lists bad blocks or writes (its verdict Fail; the status is the ECC report's).

  $ nk_device 128 overridesize=2 weakblocks=1:0 weakpages=64:0 && run lifeCycleTest 80000 0
  Erase all 1000 times Num. 0
  find a bad block
   Nandkeep notify -> set bad block fail
  [255]
  $ erases
  0:1 1:2
  $ nk_device 128 overridesize=2 weakblocks=1:0 weakpages=64:0 && nandkeep unstableBitsTestWrite 55 && erases
  erase all
  find a bad block
   Nandkeep notify -> set bad block fail
  Write unstable bits pattern: 55 Fail
  Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  At 0x0 offset ECC corrected = 0, failed = 0
  At 0x20000 offset is bad blcok!!(skip)
  At 0x40000 offset ECC corrected = 0, failed = 0
  At 0x60000 offset ECC corrected = 0, failed = 0
  0:1 1:2

The flash verify test on 64 blocks, of which one (2 %) may be bad. Block 7, bad beforehand, is
logged by the census and never touched: it still reads erased. Block i holds the random reference
from byte 4i, whether the blocks between are bad or not. The log is appended to, and holds what
was printed but the progress.

  $ nk_device 128 overridesize=6 badblocks=7 && echo earlier >"$NK_VERIFY_LOG" && run flashVerify
  Find a bad block at offset=0xe0000
  Test Pass.
  $ awk '/^Testing progress/ { printf "%s%s", sep, $3; sep = " " } END { print "" }' out; nk_erased_range 0xe0000 0x20000
  1 2 3 5 6 8 9 11 12 14 15 17 18 20 21 23 24 26 28 29 31 32 34 35 37 38 40 41 43 44 46 47 49 51 52 54 55 57 58 60 61 63 64 66 67 69 70 72 73 75 77 78 80 81 83 84 86 87 89 90 92 93 95 96 98 100
  erased
  $ nk_dump 0xc0008 0x1fff8 >a && nk_dump 0x100000 0x1fff8 | cmp - a && sed 1d "$NK_VERIFY_LOG" >log && awk '!/^Testing progress/' out | cmp - log && nk_dump 0 0x20000 >first

One bad block of 32 is more than 2 %: the total rule fails, once. A second later the reference
is another one: it is drawn from the clock.

  $ nk_device 128 overridesize=5 badblocks=7 && sleep 1 && run flashVerify
  Find a bad block at offset=0xe0000
  FAIL: Total Bad block Num ## 1 ## > 2%
  Test Fail. Error Cnt = 1
  [1]
  $ nk_dump 0 0x20000 | cmp -s - first || echo another reference
  another reference

On 16 blocks, block 6 wears out at the first erase of its own turn: one new bad block, counted
once. Page 0 of block 9 reads uncorrectably whenever it holds data: the first check sees wrong
bytes, the disturb check of block 0's turn sees the failed count rise and retires it. Two new bad
blocks of 16 also break the total rule. (The ECC counts of a page that nandsim reads as random
bytes vary with those bytes: the lines that print them are left out.)

  $ nk_device 128 overridesize=4 weakblocks=6:1 gravepages=$((9 * 64)):0 && nandkeep flashVerify >out
  [5]
  $ awk 'NF && !/ECC/' "$NK_VERIFY_LOG"; nk_bad; erases | tr ' ' '\n' | grep '^6:'
  First image check Find diff sector and set bad block at address = 0x120000
  Nandkeep_CompareVerifyBufAndMTD ulMTDOffset = 0x120000
  Nandkeep_CompareVerifyBufAndMTD SetBadBlockToBBT ulMTDOffset = 0x120000
  CheckOtherSector Find diff sector at address = 0x120000
  Find a ## New ## bad block at offset = 0x120000
  Find a ## New ## bad block at offset = 0xc0000
  FAIL: Total Bad block Num ## 2 ## > 2%
  FAIL: Find ## 2 ## new bad block
  FAIL: Find ## 2 ## diff block
  Test Fail. Error Cnt = 5
  6 9
  6:3

A failing write ends the test without a verdict: the reference's (the first program of page 1 of
block 3), a pattern case's (the second or third) or the one that puts the reference back after
them (the fourth).

  $ nk_device 128 overridesize=3 weakpages=$((3 * 64 + 1)):0 && run flashVerify
  [255]
  $ [ ! -e "$NK_VERIFY_LOG" ] && nk_bad
  3
  $ for n in 1 2 3; do nk_device 128 overridesize=3 weakpages=$((3 * 64 + 1)):$n && nandkeep flashVerify >out; echo $n $? $(nk_bad) $(grep -c '^Test ' out); done
  1 255 3 0
  2 255 3 0
  3 255 3 0

The list of bad blocks holds 256: the census of a chip with 258 logs the 257th and stops there,
with status 1.

  $ nk_device 128 overridesize=9 badblocks=$(seq -s, 1 258) && nandkeep flashVerify >out; echo $?; awk 'NF && !/^Testing progress/' out | sed 's/0x[0-9a-f]*/N/' | uniq -c
  1
      257 Find a bad block at offset=N
        1 FAIL: more than 256 bad blocks, test stopped

The life-cycle test applies the total rule only to the whole device (4 blocks allow none); a
block that cannot hold zeros (page 0 of block 1 reads back random bytes) differs in every cycle.
A length past the chip's end is refused before any request: the missing blocks would count as
bad.

  $ nk_device 128 overridesize=2 badblocks=2 gravepages=64:0 && run lifeCycleTest 60000 1
  Find a bad block at offset=0x40000
  Erase all 1000 times Num. 0
  Find diff sector at address = 0x20000
  Erase all 1000 times Num. 1
  Find diff sector at address = 0x20000
  FAIL: Find ## 2 ## diff block
  Test Fail. Error Cnt = 2
  [2]
  $ nandkeep lifeCycleTest 80000 0 >out
  [2]
  $ awk '/FAIL/' out; nk_erased >/dev/null
  FAIL: Total Bad block Num ## 1 ## > 2%
  FAIL: Find ## 1 ## diff block
  $ for len in 100000000 80001; do o=$(nandkeep lifeCycleTest $len 0); echo $? $o; done; nk_erased
  255 Nandkeep notify -> length runs past the device end
  255 Nandkeep notify -> length runs past the device end

The unstable-bits test on 4 blocks prints only. A pattern word is read as hexadecimal and its low
byte fills the good blocks; the write step erases, programs and checks them, skipping bad block 2.

  $ nk_device 128 overridesize=2 badblocks=2 && nandkeep unstableBitsTestWrite 0x3c extra
  erase all
  Find a bad block at offset=0x40000
  Find ## 1 ## bad block
  write image to flash
  check flash image
  Write unstable bits pattern: 0x3c Pass
  Current ECC corrected = 0, failed = 0, badblocks = 1, bbtblocks = 0
  At 0x0 offset ECC corrected = 0, failed = 0
  At 0x20000 offset ECC corrected = 0, failed = 0
  At 0x40000 offset is bad blcok!!(skip)
  At 0x60000 offset ECC corrected = 0, failed = 0
  $ nk_erased; nk_dump 0 0x80000 | od -Ax -tx1 | cut -c1-9 | xargs
  0-1 3
  000000 3c * 040000 ff * 060000 3c * 080000
  $ nandkeep unstableBitsTestCheck 3c
  Find a bad block at offset=0x40000
  Find ## 1 ## bad block
  check flash image
  Check unstable bits pattern: 3c Pass
  Current ECC corrected = 0, failed = 0, badblocks = 1, bbtblocks = 0
  At 0x0 offset ECC corrected = 0, failed = 0
  At 0x20000 offset ECC corrected = 0, failed = 0
  At 0x40000 offset is bad blcok!!(skip)
  At 0x60000 offset ECC corrected = 0, failed = 0
  $ nandkeep unstableBitsTestWrite 155 >out && awk '/pattern/' out && nk_dump 0x60000 4 | nk_hex && nandkeep unstableBitsTestCheck 55zz | awk '/pattern/'
  Write unstable bits pattern: 155 Pass
  55 55 55 55
  Check unstable bits pattern: 55zz Pass

A constant pattern does not notice a block turned bad since the write step. The first block
that differs (two bits flipped in one ECC step of blocks 0 and 3) fails the step, not the status.

  $ nandkeep setBadBlockToBBT 20000 && nandkeep unstableBitsTestCheck 55 >out && awk '/diff|pattern/' out
  Check unstable bits pattern: 55 Pass
  $ nk_flip 0 2 && nk_flip 0x60000 2 && nandkeep unstableBitsTestCheck 55 >out && awk '/diff|pattern|failed = [1-9]/' out
  Find diff sector at address = 0x0
  Check unstable bits pattern: 55 Fail
  Current ECC corrected = 0, failed = 1, badblocks = 2, bbtblocks = 0
  At 0x0 offset ECC corrected = 0, failed = 2
  At 0x60000 offset ECC corrected = 0, failed = 3

The k-th good block holds the pattern from byte 4k; "rand" draws the same bytes in every process,
so the check step of another process passes. A block turned bad between the steps moves every
later good block's contents by 4 bytes: the check fails at the next good block. Without good
blocks both steps pass and the write step touches nothing.

  $ nk_erased >/dev/null; nandkeep unstableBitsTestWrite rand >out && awk '/##|pattern/' out && nk_erased && { nk_dump 0 4; nk_dump 0x60000 4; } | nk_hex
  Find ## 2 ## bad block
  Write unstable bits pattern: rand Pass
  0 3
  d7 64 c8 cc e9 32 55 c4
  $ nandkeep unstableBitsTestCheck rand | awk '/pattern/'; nandkeep setBadBlockToBBT 0 && nandkeep unstableBitsTestCheck rand >out && awk '/diff|pattern/' out
  Check unstable bits pattern: rand Pass
  Find diff sector at address = 0x60000
  Check unstable bits pattern: rand Fail
  $ nandkeep setBadBlockToBBT 60000 && nk_erased && nandkeep unstableBitsTestWrite rand >out && awk '/##|pattern/' out && nk_erased && nandkeep unstableBitsTestCheck rand | awk '/pattern/'
  0 3
  Find ## 4 ## bad block
  Write unstable bits pattern: rand Pass
  Check unstable bits pattern: rand Pass

The screening scan runs until it is stopped. Block 5 takes four erases (ff, 0, f and f0) and
fails its fifth, in the 5a pass: it is retired there, once. A failing write retires block 9
silently; block 6, whose first page reads back random bytes once it holds data, is retired in
the first pass and named; block 3, bad beforehand, is never erased.

  $ nk_device 128 overridesize=4 badblocks=3 weakblocks=5:4 weakpages=$((9 * 64 + 1)):0 gravepages=$((6 * 64)):0
  $ nandkeep badBlockManagement >out & i=0; while [ "$(grep -c '^Pattern' out)" -lt 20 ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done; kill $!; wait $! 2>/dev/null; echo $?
  143
  $ sed 's/\(.\)\(Pattern is\)/\1\n\2/' out | awk '/^Pattern/ { if (++n <= 17) { p = p sep $3; sep = " " } next } NF { print n ": " $0 } END { print p }'
  1:  Nandkeep notify -> Image is not match.
  1: Offset 0xc0000 Is bad block
  5: find a bad block
  ff 0 f f0 5a a5 69 96 ff 0 f f0 5a a5 69 96 ff
  $ nk_bad; erases | tr ' ' '\n' | awk -F: '$2 < 10'
  3 5-6 9
  5:6
  6:2
  9:2

The verify log: a write that does not reach it ends the test with status 1 (a full file system
shows only when the write is flushed).

  $ ln -s /dev/full "$NK_VERIFY_LOG" && run lifeCycleTest 0 0
  Erase all 1000 times Num. 0
   Nandkeep notify -> fwrite()
  [1]

Erase blocks of 256 KiB are handled whole: a page that reads uncorrectable in the second half of
one fails the test (shown: its verdict; the lines before it name the random data's first
difference).

  $ big() { printf 'dev:    size   erasesize  name\nmtd0: 00400000 00040000 "linux"\n' >"$(nk_table)" && nandkeep flashVerify >out; echo $?; }
  $ nk_device 128 overridesize=5 && big && awk 'NF && !/^Testing progress/' out
  0
  Test Pass.
  $ nk_device 128 overridesize=5 gravepages=$((3 * 64 + 5)):0 && big && awk '/^FAIL/ { s = 1 } s && NF' out
  5
  FAIL: Total Bad block Num ## 1 ## > 2%
  FAIL: Find ## 1 ## new bad block
  FAIL: Find ## 3 ## diff block
  Test Fail. Error Cnt = 5

A partition list that claims an absurd size: walks over it stop at 4 GiB (the blocks past the
chip read as bad), and a life-cycle test of the whole device is refused.

  $ nk_device 128 overridesize=4 && printf 'dev:    size   erasesize  name\nmtd0: ffffffffffffffff 00020000 "linux"\n' >"$(nk_table)" && say nandkeep lifeCycleTest
  255 Nandkeep notify -> range runs past 4 GiB
  $ nandkeep unstableBitsTestWrite 55 >out && sed -n '/##/p;$p' out
  Find ## 32752 ## bad block
  At 0xFFFE0000 offset is bad blcok!!(skip)
  $ nandkeep badBlockManagement >out & i=0; while [ "$(grep -c 'Pattern is 0' out)" -lt 1 ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done; kill $!; wait $! 2>/dev/null; head -n 2 out | xargs
  Pattern is ff Pattern is 0

Reads that leave a piece short fail the unstable-bits check (its verdict Fail) and then the ECC
report after it (status 255).

  $ nk_device 128 overridesize=2 && nandkeep unstableBitsTestWrite 55 >/dev/null && nk_short read 5 && nandkeep unstableBitsTestCheck 55 >out
  [255]
