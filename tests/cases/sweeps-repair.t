The failure sweeps of the repair (nk_sweep, lib.sh; sweeps.t has those of the other commands):
each run from the same device, with one read call or one request for the ECC counters failing
outright. scripts/test.sh runs this file on the simulator and the x86_64 kernel only, as
sweeps.t.

  $ . "$TESTDIR/lib.sh"

A read call that fails outright, each of a repair's in turn (kernel 0's DTB replaced by B's):
where the single pass's read fails, the step-by-step recovery still repairs the pair (0); a
failing read of a step fails that region's recovery with the step's message.

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nandkeep write "$IN/B.dtb" 480000 780000 && nk_sweep read-fail nandkeep systemRecovery 1
  48x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> check Source mkimg fail recovered image
  38x 0 iCnt = 0 Nandkeep notify -> read fail recovered image
  2x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> check Source DTB image fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> read MTD fail Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  24x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  12x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> get ulDestSubOffset fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> get ulImageLen fail recovered image
  4x 255 iCnt = 0 Nandkeep notify -> read fail recovered image
  1x 254 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> recover image fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source DTB image fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> recover image fail recovered image
  1x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> check Source defconf image fail recovered image

The same with a request for the ECC counters that fails, each in turn: a write's comparisons, the
ECC report, and the repair (where the single pass's request fails, the step-by-step recovery
repairs the pair without a word).

  $ nk_sweep ecc-fail nandkeep systemRecovery 1; nk_device 128 && for a in "write $IN/block.txt 200000 20000" "eccStatus 0 40000"; do nk_sweep ecc-fail nandkeep $a; done
  40x 0 recovered image
  36x 255 Nandkeep notify -> check Source mkimg fail recovered image
  1x 255 Nandkeep notify -> check Source DTB image fail recovered image
  24x 255 Nandkeep notify -> ioctl(ECCGETSTATS) Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  4x 255 Nandkeep notify -> ioctl(ECCGETSTATS) recovered image
  2x 255 Nandkeep notify -> ioctl(ECCGETSTATS) Nandkeep notify -> recover image fail recovered image
  1x 255 Nandkeep notify -> check Source defconf image fail recovered image
  4x 255 Nandkeep notify -> ioctl(ECCGETSTATS) Nandkeep notify -> Compare image and flash fail
  2x 255 Nandkeep notify -> ioctl(ECCGETSTATS)
  1x 255 Nandkeep notify -> ioctl(ECCGETSTATS)
  1x 255 Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 Nandkeep notify -> ioctl(ECCGETSTATS)
  1x 255 Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 At 0x0 offset ECC corrected = 0, failed = 0 Nandkeep notify -> ioctl(ECCGETSTATS)
