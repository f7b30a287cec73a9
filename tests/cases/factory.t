The factory tests on the whole chip; they destroy its contents. run shows what the tool
printed, without blank lines; erases counts the erases of each block since it was last asked.

  $ . "$TESTDIR/lib.sh"
  $ run() { nandkeep "$@" >out; s=$?; awk NF out; return $s; }
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
  $ nandkeep lifeCycleTest 12x4 0 | head -n 1; erases; nk_dump 0 0x20000 | tr -d '\000' | wc -c
  input size [12x4] (base hex), but get [12]
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

The unstable-bits test. The write step erases the chip, programs every good block and checks
it. The k-th good block holds the pattern from byte 4k; "rand" draws the same bytes in every
process, so the check step of another process passes.

  $ nandkeep unstableBitsTestWrite rand >out && awk '/##|pattern/' out && nk_erased
  Find ## 3 ## bad block
  Write unstable bits pattern: rand Pass
  0-1 4 6-1023
  $ for o in 0 0x20000 0x80000 0xc0000; do nk_dump $o 4; done | nk_hex && nandkeep unstableBitsTestCheck rand >out && awk '/diff|pattern/' out
  d7 64 c8 cc e9 32 55 c4 47 8d 7a a0 5d 83 f3 ea
  Check unstable bits pattern: rand Pass

A block turned bad between the steps moves every later good block's contents by 4 bytes: the
check fails at the next good block, but the status tells only that the ECC report was made.

  $ nandkeep setBadBlockToBBT c0000 && nandkeep unstableBitsTestCheck rand >out && awk '/diff|pattern/' out
  Find diff sector at address = 0xe0000
  Check unstable bits pattern: rand Fail
