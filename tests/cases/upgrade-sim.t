Writer cases only the simulator can stage: a block that reports its program as done and holds
nothing, and the order of the operations the simulator traces.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ nk_device 128 && nk_simctl fault add program-lost 681 && head -c 524288 "$IN/A.rootfs" >four.bin

The block that does not hold its chunk is retired on the spot (and logged) and the chunk moves
on; when that leaves too few good blocks, the write fails.

  $ nandkeep write four.bin 5500000 80000
  
   Nandkeep notify -> Image is not match.
  
   Nandkeep notify -> write fail: Not enought flash space
  [255]
  $ nandkeep write four.bin 5500000 a0000
  $ nk_erased; nk_bad; nk_syslog
  680-683 681 681 680 682-684
  681
  user.err nandkeep: NANDKEEP ERROR! Compare image fail!
  $ { nk_dump 0x5500000 0x20000; nk_dump 0x5540000 0x60000; } | cmp - four.bin

A nandkeep that the flashstatus command leaves running in the background, started at once or after
the command returned, never interleaves with the upgrade: its operations all come before the
upgrade's first operation on a normal copy (it took the lock over and was waited for) or after the
last one (it waited for the lock).

  $ head -c 8388608 /dev/zero | tr '\0' x >big.bin && mkdir -p bg
  $ for s in '' 'sleep 1; '; do rm -f bg.done
  >   printf '#!/bin/sh\n{ %snandkeep write big.bin 5500000 800000; touch bg.done; } >/dev/null 2>&1 &\n' "$s" >bg/ovenctl; chmod +x bg/ovenctl
  >   nk_device 128 && nandkeep upgradeFW "$IN/B.boot" "$IN/B.kernel" "$IN/B.dtb" "$IN/B.rootfs" "$IN/B.defconf" && n=$(wc -l <ops.trace)
  >   PATH=$PWD/bg:$PATH nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"
  >   i=0; while [ ! -f bg.done ] && [ $i -lt 3000 ]; do sleep 0.1; i=$((i+1)); done
  >   awk -v n=$n 'NR <= n { next } $2 >= 680 && $2 < 744 { if (!bf) bf = NR; bl = NR }
  >     ($2 >= 24 && $2 < 96) || ($2 >= 168 && $2 < 424) { if (!uf) uf = NR; ul = NR }
  >     END { print !bf ? "not run" : (bl < uf || bf > ul) ? "apart" : "interleaved" }' ops.trace
  > done
  apart
  apart

A read call that fails outright, each of an upgrade's in turn (set A to set B): the update it
belongs to fails with its message, and the upgrade stops there.

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_sweep read-fail nandkeep upgradeFW "$IN/B.boot" "$IN/B.kernel" "$IN/B.dtb" "$IN/B.rootfs" "$IN/B.defconf"
  3x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update Boot fail
  2x 255 iCnt = 0 Nandkeep notify -> read fail update Boot fail
  25x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update Rootfs 1 fail
  24x 255 iCnt = 0 Nandkeep notify -> read fail update Rootfs 1 fail
  24x 255 iCnt = 0 Nandkeep notify -> read fail get Default Value 1 offset fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail update Default Value 1 fail
  13x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update Kernel 1 fail
  12x 255 iCnt = 0 Nandkeep notify -> read fail update Kernel 1 fail
  12x 255 iCnt = 0 Nandkeep notify -> read fail get DTB 1 offset fail
  2x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update DTB 1 fail
  1x 255 iCnt = 0 Nandkeep notify -> read fail update DTB 1 fail
  13x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update Kernel 0 fail
  12x 255 iCnt = 0 Nandkeep notify -> read fail update Kernel 0 fail
  12x 255 iCnt = 0 Nandkeep notify -> read fail get DTB 0 offset fail
  2x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update DTB 0 fail
  1x 255 iCnt = 0 Nandkeep notify -> read fail update DTB 0 fail
  25x 255 iCnt = 0 Nandkeep notify -> read fail Nandkeep notify -> Compare image and flash fail update Rootfs 0 fail
  24x 255 iCnt = 0 Nandkeep notify -> read fail update Rootfs 0 fail
  24x 255 iCnt = 0 Nandkeep notify -> read fail get Default Value 0 offset fail
  3x 255 iCnt = 0 Nandkeep notify -> read fail update Default Value 0 fail

The repair's copy meets a block that does not hold its chunk and can then be neither erased nor
marked (its marker's page fails): the copy fails at that block, before the comparison after it.

  $ nandkeep write "$IN/B.dtb" 480000 780000 && nk_simctl fault add program-lost 36 && nk_simctl fault add weak-block 36 1 && nk_simctl fault add weak-page 36 1 --page 0 && say nandkeep systemRecovery 1
  254 Nandkeep notify -> Image is not match. find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> recover image fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source DTB image fail recovered image
