The failure sweeps: each command run once for each read call (ECC counter request, verify-log
message) it makes, from the same device each time, with that one call failing outright (nk_sweep,
lib.sh). A failure that is ignored, or answered with another status or message, anywhere along
a command changes its tally. The repair's sweeps are in sweeps-repair.t, so that the two halves
run side by side. scripts/test.sh runs both files on the simulator and the x86_64 kernel only: on
the emulated ARM guests their several hundred runs would take minutes per tier.

  $ . "$TESTDIR/lib.sh"

A read call that fails outright, each of a command's in turn: the record reads and checks
take their other copy where there is one (tempdata has none); a write fails when its
read-back leaves fewer copies valid than the store needs (two for tempconf).

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"
  $ for c in tempconf tempdata NFDI; do nandkeep write$c "$IN/five.txt" || break; done
  $ for c in tempconf tempdata NFDI defconf; do f=five.txt; [ $c = defconf ] && f=A.defconf; for a in "read$c out" check$c "write$c $IN/$f"; do echo ${a%% *}; nk_sweep read-fail nandkeep $a; done; done
  readtempconf
  3x 0 iCnt = 0 Nandkeep notify -> read fail
  checktempconf
  3x 0 iCnt = 0 Nandkeep notify -> read fail
  writetempconf
  6x 255 iCnt = 0 Nandkeep notify -> read fail
  readtempdata
  3x 255 iCnt = 0 Nandkeep notify -> read fail
  checktempdata
  3x 255 iCnt = 0 Nandkeep notify -> read fail
  writetempdata
  6x 0 iCnt = 0 Nandkeep notify -> read fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail
  readNFDI
  3x 0 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail
  checkNFDI
  3x 0 iCnt = 0 Nandkeep notify -> read fail
  writeNFDI
  6x 0 iCnt = 0 Nandkeep notify -> read fail
  readdefconf
  27x 0 iCnt = 0 Nandkeep notify -> read fail read Default Value 0
  checkdefconf
  24x 255 iCnt = 0 Nandkeep notify -> read fail get Default Value 1 offset fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail check Default Value 1 fail
  24x 255 iCnt = 0 Nandkeep notify -> read fail get Default Value 0 offset fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail check Default Value 0 fail
  writedefconf
  24x 255 iCnt = 0 Nandkeep notify -> read fail get Default Value 1 offset fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail update Default Value 1 fail
  24x 255 iCnt = 0 Nandkeep notify -> read fail get Default Value 0 offset fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail update Default Value 0 fail

A read call that fails outright (or a request for the ECC counters) ends a verify of a 4-block
chip, an unstable-bits check (its verdict Fail, or the ECC report's failure) or a life-cycle
test, whichever of its reads it is.

  $ nk_device 128 overridesize=2 && nk_sweep read-fail nandkeep flashVerify && nk_sweep ecc-fail nandkeep flashVerify
  36x 255 iCnt = 0 Nandkeep notify -> read fail
  48x 255 Nandkeep notify -> ioctl(ECCGETSTATS)
  $ nandkeep unstableBitsTestWrite 55 >/dev/null && nk_sweep read-fail nandkeep unstableBitsTestCheck 55
  4x 0 Find ## 0 ## bad block check flash image iCnt = 0 Nandkeep notify -> read fail Check unstable bits pattern: 55 Fail Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 At 0x0 offset ECC corrected = 0, failed = 0 At 0x20000 offset ECC corrected = 0, failed = 0 At 0x40000 offset ECC corrected = 0, failed = 0 At 0x60000 offset ECC corrected = 0, failed = 0
  1x 255 Find ## 0 ## bad block check flash image Check unstable bits pattern: 55 Pass Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 iCnt = 0 Nandkeep notify -> read fail
  1x 255 Find ## 0 ## bad block check flash image Check unstable bits pattern: 55 Pass Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 At 0x0 offset ECC corrected = 0, failed = 0 iCnt = 0 Nandkeep notify -> read fail
  1x 255 Find ## 0 ## bad block check flash image Check unstable bits pattern: 55 Pass Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 At 0x0 offset ECC corrected = 0, failed = 0 At 0x20000 offset ECC corrected = 0, failed = 0 iCnt = 0 Nandkeep notify -> read fail
  1x 255 Find ## 0 ## bad block check flash image Check unstable bits pattern: 55 Pass Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 At 0x0 offset ECC corrected = 0, failed = 0 At 0x20000 offset ECC corrected = 0, failed = 0 At 0x40000 offset ECC corrected = 0, failed = 0 iCnt = 0 Nandkeep notify -> read fail
  $ nk_device 128 && nk_sweep read-fail nandkeep lifeCycleTest 40000 0
  4x 255 Erase all 1000 times Num. 0 iCnt = 0 Nandkeep notify -> read fail

A verify result log that cannot take a message, each of a life-cycle test's messages in turn:
the test stops right after the notify, with status 1, whatever it was doing.

  $ nk_device 128 badblocks=2 weakblocks=3:500 && nk_sweep log-fail nandkeep lifeCycleTest 80000 1
  1x 1 Find a bad block at offset=0x40000 Nandkeep notify -> fwrite()
  1x 1 Erase all 1000 times Num. 0 Nandkeep notify -> fwrite()
  1x 1 find a bad blockFind a ## New ## bad block at offset = 0x60000 Nandkeep notify -> fwrite()
  1x 1 Erase all 1000 times Num. 1 Nandkeep notify -> fwrite()
  1x 1 FAIL: Find ## 1 ## new bad block Nandkeep notify -> fwrite()
  1x 1 Test Fail. Error Cnt = 1 Nandkeep notify -> fwrite()
