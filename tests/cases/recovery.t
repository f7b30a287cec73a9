System recovery of the kernel and rootfs pairs after an upgrade to set A. Each group damages a
copy with the tool itself (a write over part of it) and repairs it. rec runs systemRecovery and
shows its output without blank lines.

  $ . "$TESTDIR/lib.sh"
  $ rec() { nandkeep systemRecovery "$@" >out; s=$?; awk NF out; return $s; }; nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null

Equal copies are left alone in every form (a FlashStatus other than 1 and 3 gets the usage text:
startup.t).

  $ nandkeep systemRecovery && nandkeep systemRecovery 1 && nandkeep systemRecovery 3
  recovered image
  recovered image
  recovered image
  $ nk_erased; nk_syslog

Kernel 0 with another DTB: the main images are equal, so only the DTB range is rewritten.

  $ nandkeep write "$IN/B.dtb" 480000 780000 && nandkeep systemRecovery 1
  recovered image
  $ nk_erased; nk_same 0x480000 "$IN/A.dtb"
  36-95 36-95
  same

An upgrade cut while it rewrote kernel 0; FlashStatus 101 keeps its low 8 bits (1): kernel 0 and
its DTB come back from the backup, and the second pass is not needed.

  $ nandkeep write "$IN/A.boot" 300000 900000 && nandkeep systemRecovery 101
  recovered image
  $ nk_erased; nk_same 0x300000 "$IN/A.kernel"
  24-95 24-95 36-95
  same

A broken backup kernel with FlashStatus 1: the first pass fails on it (-1), the second rewrites
it from kernel 0 (0); the status is the sum. A broken normal rootfs with FlashStatus 3: the same
from the other side, the default configuration record restored behind it.

  $ nandkeep write "$IN/five.txt" C00000 20000 && rec 1
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source mkimg fail
  recovered image
  [255]
  $ nk_erased; nk_same 0xC00000 "$IN/A.kernel"
  96 96-167 108-167
  same
  $ nandkeep write "$IN/five.txt" 1540000 20000 && rec 3
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x822F4DA3 / 0xD2C8B685 
   Nandkeep notify -> check Source mkimg fail
  recovered image
  [255]
  $ nk_erased; nk_same 0x1500000 "$IN/A.rootfs"
  170 168-423 192-423
  same

An invalid source DTB leaves the destination alone: kernel 1's DTB and kernel 0's header broken,
both passes fail (254) and nothing is erased.

  $ nandkeep write "$IN/five.txt" D80000 20000 && nandkeep write "$IN/five.txt" 300000 20000 && nk_erased
  108 24
  $ rec 1
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source DTB image fail
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source mkimg fail
  recovered image
  [254]
  $ nk_erased

The block-level repair, on a chip with bad blocks at different places in the two kernel copies,
one more in kernel 0. In each pair the backup is broken in its third block and the normal copy's
second block reads uncorrectable (two flipped bits in one ECC step): neither copy is a valid
source, so the blocks that failed are taken from the other copy and both copies are rewritten
from the merged normal copy, the backup first, the bad blocks stepped over on both sides. The
blocks are paired only as far as the shorter walk goes: kernel 1's last block is not read (two
flipped bits there would count one more ECC failure). Then there is nothing left to repair.

  $ nk_device 128 badblocks=26,27,99 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ nandkeep write "$IN/five.txt" C40000 20000 && nandkeep write "$IN/five.txt" 3540000 20000 &&
  > nk_flip 0x320800 2 && nk_flip 0x1520800 2 && nk_flip 0x14E0800 2 && rec
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC4795EF9 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x822F4DA3 / 0xD2C8B685 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x1CD3219D / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xA3C47790 / 0xD2C8B685 
   Nandkeep notify -> check Source mkimg fail
  recovered image
  $ nk_erased; nk_bad; nandkeep eccStatus 0 0
  98 426 25 96-98 100-167 24-25 28-95 169 424-679 168-423
  26-27 99
  Current ECC corrected = 0, failed = 8, badblocks = 3, bbtblocks = 0
  At 0x0 offset ECC corrected = 0, failed = 8
  $ nandkeep systemRecovery && nk_erased
  recovered image

The block-level repair takes an image's length only from a copy it has read whole. A read call
that fails outright in the data of the merged normal kernel while it is checked (the 228th of
the recovery) sends it to the backup, still broken in its third block: the pair is left to the
next boot, which repairs it.

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ nandkeep write "$IN/five.txt" C40000 20000 && nk_flip 0x320800 2 && nk_fail read 228 && rec
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC4795EF9 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x1CD3219D / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
  iCnt = 0
   Nandkeep notify -> read fail
   Nandkeep notify -> get Normal image len fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC4795EF9 / 0xA9B3BEBA 
   Nandkeep notify -> get Backup image len fail
  recovered image
  [255]
  $ nk_erased >/dev/null; rec && nk_same 0xC00000 "$IN/A.kernel"
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC4795EF9 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
  recovered image
  same

A read call that fails outright while the copies are merged (the 100th, after the normal copy's
second block was replaced) ends the repair there: nothing else is erased (shown: the status and
what follows the two passes' checks, the same as above).

  $ nandkeep write "$IN/five.txt" C40000 20000 && nk_flip 0x320800 2 && nk_erased >/dev/null && nk_fail read 100 && nandkeep systemRecovery >out; echo $? $(awk NF out | tail -n 3); nk_erased
  255 iCnt = 0 Nandkeep notify -> read fail recovered image
  25

A block that cannot take its replacement (its second page fails its second program; the ECC
failure is in its third page) is retired and the repair goes on without it: both copies stay
invalid, and the status says so.

  $ nk_device 128 weakpages=1601:1 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ nandkeep write "$IN/five.txt" C40000 20000 && nk_flip 0x321000 2 && rec; echo $?; nk_erased; nk_bad
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC4795EF9 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x6356D81C / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> FusionWrite fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC8987EE7 / 0xA9B3BEBA 
   Nandkeep notify -> get Normal image len fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0xC4795EF9 / 0xA9B3BEBA 
   Nandkeep notify -> get Backup image len fail
  recovered image
  255
  98 25 25
  25

Each copy is read once: a correctable error in the backup kernel counts once when the backup is
the source (its check and the comparison share the read); where the backup is the destination
the comparison retires the block and rewrites the copy, the shared read counting once more; the
plain form does both, in that order (the second because the first saw the correction). With
4-bit ECC a correction is no ECC event: a plain systemRecovery reads the pair once, not four times.

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null && nk_flip 0xC20800 1
  $ nandkeep systemRecovery 1 && nk_erased; nk_ecc
  recovered image
  corrected 1 failed 0
  $ nandkeep systemRecovery 3 && nk_erased; nk_ecc; nk_bad
  recovered image
  97 96 98-167 109-167
  corrected 3 failed 0
  97
  $ nk_flip 0xC40800 1 && nandkeep systemRecovery && nk_erased; nk_ecc; nk_bad
  recovered image
  98 96 99-167 110-167
  corrected 6 failed 0
  97-98
  $ nk_device 256 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null && nk_flip 0x1520800 1
  $ nandkeep systemRecovery && nk_erased; nk_ecc
  recovered image
  corrected 1 failed 0

A repair never destroys the last valid copy, and the plain form's status tells whether both pairs
ended valid and equal. Kernel 0's data damaged and the first page of its first block failing its
second program (the upgrade had the first); that page also holds the bad-block marker, so the mark
request fails though the driver holds the block bad: the copy moves on past the retired block.

  $ nk_device 128 weakpages=1536:1 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ nandkeep write "$IN/five.txt" 320000 20000 && nandkeep systemRecovery; echo $?
  
   Nandkeep notify -> set bad block fail
  recovered image
  0
  $ nk_erased; nk_bad; nk_same 0x320000 "$IN/A.kernel"; nk_same 0xC00000 "$IN/A.kernel"
  25 24-95 24 37-95
  24
  same
  same

Kernel 0 left with one good block: no form can rewrite it, and the block-level repair takes the
valid backup as its source instead of overwriting it with the broken normal copy.

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ for b in $(seq 25 95); do nandkeep setBadBlockToBBT $(printf %x $((b * 0x20000))) || break; done; nk_bad; nk_erased >/dev/null
  25-95
  $ rec
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> recover image fail
   Nandkeep notify -> Nandkeep_RecoveryMkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x5BA0772 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x5BA0772 / 0xA9B3BEBA 
   Nandkeep notify -> get Normal image len fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x5BA0772 / 0xA9B3BEBA 
   Nandkeep notify -> ECC Fail 0: normal block not enough
   Nandkeep notify -> ECC Corrected 0: normal block not enough
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> Backup -> Normal, recover image fail
  recovered image
  [255]
  $ nk_erased; nk_same 0xC00000 "$IN/A.kernel"
  24 24
  same
  $ rec 1; echo $?; rec 3; echo $?; nk_erased; nk_same 0xC00000 "$IN/A.kernel"
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> recover image fail
   Nandkeep notify -> Nandkeep_RecoveryMkimg fail
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x5BA0772 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
  recovered image
  254
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x5BA0772 / 0xA9B3BEBA 
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> recover image fail
   Nandkeep notify -> Nandkeep_RecoveryMkimg fail
  recovered image
  254
  24 24
  same

Kernel 0 left with exactly the 13 good blocks the set needs (image, empty block, DTB), and a page
of each kernel copy uncorrectable, in different blocks: neither copy can be an image-level
source, the block-level repair takes each block from the copy that reads it clean, and no lack
of blocks is reported.

  $ nk_device 128 badblocks=$(seq -s, 37 95) && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_flip 0x340800 2 && nk_flip 0xCA0800 2 && nk_erased >/dev/null
  $ say nandkeep systemRecovery; nk_erased; echo $(nk_same 0x300000 "$IN/A.kernel"; nk_same 0xC00000 "$IN/A.kernel")
  0 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0x864E691F / 0xA9B3BEBA Nandkeep notify -> check Source mkimg fail Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0x7C434D7E / 0xA9B3BEBA Nandkeep notify -> check Source mkimg fail recovered image
  26 101 96-167 24-36
  same same

Rootfs 0 likewise left with exactly the 25 good blocks its set needs, its default configuration
exactly one block long (131,064 bytes behind the length word and the checksum): that block is
counted once, so neither a lack of blocks nor a failed copy is reported, and the record reads back.

  $ nk_device 128 badblocks=$(seq -s, 193 423) && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/block.txt" && nk_flip 0x1540800 2 && nk_flip 0x35A0800 2 && nk_erased >/dev/null
  $ say nandkeep systemRecovery; nk_erased; echo $(nk_same 0x1500000 "$IN/A.rootfs"; nk_same 0x3500000 "$IN/A.rootfs"); nandkeep readdefconf o && cmp o "$IN/block.txt"
  0 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0xC6CA55FE / 0xD2C8B685 Nandkeep notify -> check Source mkimg fail Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0xA0C5AE09 / 0xD2C8B685 Nandkeep notify -> check Source mkimg fail recovered image
  170 429 424-679 168-192
  same same
  read Default Value 1

A record one byte longer than a block, its checksum's last byte alone in the next block, is copied
with that byte.

  $ nk_device 128 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/over.txt" && nandkeep write "$IN/five.txt" 1800000 20000 && nk_erased >/dev/null
  $ say nandkeep systemRecovery 1; nk_erased; nandkeep checkdefconf
  0 recovered image
  192-423

Kernel 0 with only its region's last 12 blocks good, one short of the set: the upgrade cannot place
DTB 0, and the block-level copy fills the region to its end with data left ("Bad block is too
much"), which fails the pair.

  $ nk_device 128 badblocks=$(seq -s, 24 83) && say nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"; nk_erased >/dev/null
  255 get DTB 0 offset fail
  $ say nandkeep systemRecovery; nk_erased
  255 Nandkeep notify -> get ulDestSubOffset fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> ECC Fail 0: normal block not enough Nandkeep notify -> ECC Corrected 0: normal block not enough Nandkeep notify -> Bad block is too much Nandkeep notify -> Backup -> Normal, recover image fail recovered image
  168-423 192-423 84-95

Kernel 1 likewise one short, and only kernel 0 and DTB 0 written (by write): the copy to the
backup finds too few blocks there and says so for copy 1.

  $ nk_device 128 badblocks=$(seq -s, 96 155) && nandkeep write "$IN/A.kernel" 300000 180000 && nandkeep write "$IN/A.dtb" 480000 20000 && nk_erased >/dev/null
  $ say nandkeep systemRecovery; nk_erased
  254 Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> get ulDestSubOffset fail Nandkeep notify -> ECC Fail 1: normal block not enough Nandkeep notify -> ECC Corrected 1: normal block not enough Nandkeep notify -> Bad block is too much Nandkeep notify -> Normal -> Backup, recover image fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> get Normal image len fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> get Backup image len fail recovered image
  156-167 156-167

Kernel 1 broken, and one of its blocks good for one more erase only and unable to take the
marker: the repair from kernel 0 cannot erase it, and the pass fails (254 with the first pass's
failure on the broken backup).

  $ nk_device 128 weakblocks=97:1 weakpages=$((97 * 64)):1 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nandkeep write "$IN/five.txt" C00000 20000 && say nandkeep systemRecovery 1
  254 Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase fail Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image

Kernel 1's region all bad: no image can be looked for there ("flash driver fail"), so no pass can
repair the kernel pair (the device holds no firmware at all), DTB 1 has no place, and the
block-level repair of the plain form finds no backup image whose length it could take.

  $ nk_device 128 badblocks=$(seq -s, 96 167) && each "systemRecovery 1" "updateDTB $IN/A.dtb" systemRecovery
  252 Nandkeep notify -> flash driver fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail recovered image
  255 Nandkeep notify -> flash driver fail get DTB 1 offset fail
  254 Nandkeep notify -> flash driver fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> get Normal image len fail Nandkeep notify -> flash driver fail Nandkeep notify -> get Backup image len fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> get Normal image len fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> get Backup image len fail recovered image

Rootfs 0 broken, and block 192, where its default configuration record starts, good for two or
three more erases only and unable to take the marker: the rewrite of the image, or the restore of
the record behind it, cannot erase the block (254).

  $ for n in 2 3; do nk_device 128 weakblocks=192:$n weakpages=$((192 * 64)):1 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nandkeep write "$IN/five.txt" 1540000 20000 && say nandkeep systemRecovery 3; done
  254 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0x822F4DA3 / 0xD2C8B685 Nandkeep notify -> check Source mkimg fail find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase fail Nandkeep notify -> Nandkeep_RecoveryMkimg fail recovered image
  254 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0x822F4DA3 / 0xD2C8B685 Nandkeep notify -> check Source mkimg fail find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase fail Nandkeep notify -> update Default Value fail recovered image

Rootfs 0's record overwritten, in block 192, whose first page reads garbage from its tenth read
on: the record restored behind the rewritten image fails its check (254), and the backup is left
alone, since its source fails too.

  $ nk_device 128 gravepages=$((192 * 64)):9 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nandkeep write "$IN/five.txt" 1800000 20000 && nk_erased >/dev/null && say nandkeep systemRecovery 1; nk_erased
  254 Nandkeep notify -> recovery Default Value fail Nandkeep notify -> update Default Value fail Nandkeep notify -> check Source defconf image fail recovered image
  192-423

DTB 0 copied back from the backup into block 36, whose first page reads garbage from its ninth
read on: the copy reads back whole, the comparison after it reads garbage, retires the block and
says so, and the second pass finds no DTB 0 to copy from (254).

  $ nk_device 128 gravepages=$((36 * 64)):8 && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nandkeep write "$IN/B.dtb" 480000 780000 && nk_erased >/dev/null && say nandkeep systemRecovery 1; nk_erased; nk_bad
  254 Nandkeep notify -> double check image fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source DTB image fail recovered image
  36-95 36
  36
