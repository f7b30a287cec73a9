The raw maintenance commands on a chip with blocks 30 (in kernel 0) and 700 (in flashfs1) bad
from the factory, a page of block 710 (flashfs1) that loses what is written to it and block 40,
whose first page takes no program.

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128 badblocks=30,700 gravepages=$((710 * 64)):0 weakpages=$((40 * 64)):0
  $ nandkeep badBlockReport
  Find a bad block at offset = 0x3c0000
  Find a bad block at offset = 0x5780000
  $ nandkeep flashfs2IsChange

eccStatus reads block by block and prints the running totals: what each read cost. Blocks 31
and 33 get data, then one flipped bit (corrected) and two (uncorrectable); the last step covers
the 0x10000 bytes left; with a length of 0 the block at the offset still gets its line, and so does
an offset inside a block (its whole piece is read). An erase block of 256 KiB is read whole: the one
at 0x400000 holds block 33.

  $ nandkeep write "$IN/block.txt" 3E0000 20000 && nandkeep write "$IN/block.txt" 420000 20000
  $ nk_flip 0x3E1000 1 && nk_flip 0x421000 2 && nk_erased
  31 33
  $ nandkeep eccStatus 3C0000 70000
  Current ECC corrected = 0, failed = 0, badblocks = 2, bbtblocks = 0
  At 0x3C0000 offset is bad blcok!!(skip)
  At 0x3E0000 offset ECC corrected = 1, failed = 0
  At 0x400000 offset ECC corrected = 1, failed = 0
  At 0x420000 offset ECC corrected = 1, failed = 1
  $ nandkeep eccStatus 0x3E0000 0 && nandkeep eccStatus 3E0F00 200
  Current ECC corrected = 1, failed = 1, badblocks = 2, bbtblocks = 0
  At 0x3E0000 offset ECC corrected = 1, failed = 1
  Current ECC corrected = 1, failed = 1, badblocks = 2, bbtblocks = 0
  At 0x3E0F00 offset ECC corrected = 2, failed = 1
  $ P=$(nk_table) && cp "$P" p.orig && sed '2s/00020000/00040000/' p.orig >"$P" && nandkeep eccStatus 400000 40000; cp p.orig "$P"
  Current ECC corrected = 2, failed = 1, badblocks = 2, bbtblocks = 0
  At 0x400000 offset ECC corrected = 2, failed = 2

badBlockRead copies whole pieces as the device reads them (corrected), the bad block too, a length
between pieces taken up to the next piece; offset and length are warned when they do not convert
whole (a warning of 256 bytes, one more than the tool's line buffer, comes out whole too). A
failing step leaves what was copied so far; a FIFO without a reader is refused at once, not waited
on.

  $ nandkeep badBlockRead r.bin 3C0000x "30000 "
  input offset [3C0000x] (base hex), but get [3C0000]
  input length [30000 ] (base hex), but get [30000]
  $ wc -c <r.bin; tail -c 131072 r.bin | head -c 131064 | cmp - "$IN/block.txt" && echo same
  262144
  same
  $ o=0$(printf %215s | tr ' ' g) && nandkeep badBlockRead r.bin $o 0 | sed "s/$o/0g.../"; wc -c <r.bin
  input offset [0g...] (base hex), but get [0]
  0
  $ mkfifo fifo; each "badBlockRead no/such/file 0 20000" "badBlockRead fifo 0 20000" \
  >   "badBlockRead /dev/full 0 20000" "badBlockRead r.bin 8020000 20000" \
  >   "badBlockRead r.bin 7FE0000 40000"; wc -c <r.bin
  255 Nandkeep notify -> fopen() no/such/file
  255 Nandkeep notify -> fopen() fifo
  255 Nandkeep notify -> fwrite()
  255 Nandkeep notify -> lseek()
  255 Nandkeep notify -> read()
  131072
  $ nk_erased; nk_bad
  30 700

A destination that is the flash itself (on the kernel the whole-device node and the block device
over a partition, on the simulator its cells and its state) is refused, and nothing is written.

  $ nandkeep writetempconf "$IN/five.txt" && nk_erased >/dev/null
  $ for d in $NK_FLASH_NODES; do echo $(each "badBlockRead $d 0 20000" "readtempconf $d") | sed "s:$d:the flash:g"; done; nk_erased; nk_erased_range 0 0x20000
  255 Nandkeep notify -> destination is the flash device itself the flash 255 Nandkeep notify -> destination is the flash device itself the flash Nandkeep notify -> destination is the flash device itself the flash Nandkeep notify -> size check fail
  255 Nandkeep notify -> destination is the flash device itself the flash 255 Nandkeep notify -> destination is the flash device itself the flash Nandkeep notify -> destination is the flash device itself the flash Nandkeep notify -> size check fail
  erased

erase skips bad blocks and takes a partial last block whole; blocks past the device end (up to
4 GiB) count as bad. badBlockErase is one raw request that the driver stops at a bad block, and
it writes nothing before it (the bootstrap stays erased).

  $ nandkeep erase 3A0000 60000 && nandkeep erase 0x80000 20001 && nk_erased
  29 31 4-5
  $ nandkeep erase 7FE0000 40000 && nandkeep erase 8000000 20000 && nandkeep erase FFFE0000 20000
  $ nk_erased
  1023
  $ each "badBlockErase 3A0000 60000"; nk_erased; nandkeep badBlockErase 3E0000 20000 && nk_erased
  255 Nandkeep notify -> erase fail
  29
  31
  $ nk_erased_range 0 0x20000
  erased

A mistyped range never reaches the driver as an erase: refused with status 255, nothing erased
or marked (equal answers in a row counted). An empty one right at 4 GiB is taken.

  $ each "erase 30000 20000" "erase FFFE0000 40000" "erase 20000 FFFFFFFFFFFFFFFF" \
  >   "erase 100000000 20000" "eccStatus FFFE0000 40000" "badBlockRead r.bin FFFE0000 40000" \
  >   "badBlockRead r.bin 0 100000001" \
  >   "badBlockErase FFFE0000 40000" "badBlockErase 0 100000000" "badBlockErase 100020000 20000" \
  >   "badBlockErase 30000 20000" "badBlockErase 20000 10000" "badBlockErase 7FE0000 40000" | uniq -c | sed 's/^ *//'
  1 255 Nandkeep notify -> offset is not on an erase block boundary
  9 255 Nandkeep notify -> range runs past 4 GiB
  3 255 Nandkeep notify -> erase fail
  $ nandkeep eccStatus 100000000 0
  Current ECC corrected = 3, failed = 2, badblocks = 2, bbtblocks = 0
  At 0x100000000 offset is bad blcok!!(skip)
  $ nk_erased; nk_bad
  30 700

setBadBlockToBBT marks the block that holds the offset; the driver erases it first. The mark of
block 40 fails (its marker goes into the first page), though the block reads bad afterwards.

  $ nandkeep setBadBlockToBBT 400000 && nandkeep setBadBlockToBBT 7FFFFFF && nk_erased
  32 1023
  $ each "setBadBlockToBBT 8000000" "setBadBlockToBBT 500000"; nk_erased; nk_bad
  255 Nandkeep notify -> set bad block fail
  255 Nandkeep notify -> set bad block fail
  40
  30 32 40 700 1023

The partition erases: flashfs1 is the third record from the end, flashfs2 the second, jffs2 the
last. eraseRootfs writes zeros over flashfs1 and reads them back before it erases it again: the
bad block 700 holds them, block 710 does not and is marked bad.

  $ nandkeep eraseRootfs && nk_erased; nk_bad
  g_iPartitionNum = 8, size = 800000
  680-699 701-743 710 680-699 701-709 711-743
  30 32 40 700 710 1023

A read that fails while the zeros are read back fails the scan, and flashfs1 is not erased again.

  $ nk_fail read 1 && nandkeep eraseRootfs; echo $?; nk_erased
  g_iPartitionNum = 8, size = 800000
  iCnt = 0
  
   Nandkeep notify -> read fail
  Bad block scan fail
  255
  680-699 701-709 711-743

A block whose erase fails is marked bad and the erase goes on (the message has no newline); an
erase of one whole block that fails answers 255, once: then the block is bad and skipped. Bad
blocks are skipped without going further, and a length inside a block erases the whole block.
Each partition erase meets such a block (12 in jffs2, 700 in flashfs1, 800 in flashfs2, 900 at
its second erase, 5 for eraseAll); eraseRootfs stops when its zeros cannot be written (page 5 of
block 690).

  $ nk_device 128 badblocks=21 weakblocks=5:0,12:0,31:0,40:0,41:0,700:0,800:0,900:1 weakpages=$((690 * 64 + 5)):0
  $ for r in "280000 60000" "3c0000 60000" "500000 20000" "500000 20000" "520000 10000" "640000 30000"; do o=$(nandkeep erase $r); echo $? $o; done
  0
  0 find a bad block
  255 find a bad block
  0
  0 find a bad block
  0
  $ nk_erased; nk_bad
  20 22 30-31 31-32 40 40-41 41 50-51
  21 31 40-41
  $ for c in eraseJFFS2 eraseflashfs1 eraseflashfs2 eraseflashfs eraseRootfs eraseAll; do o=$(nandkeep $c); echo $c $? $o; nk_erased; done; nk_bad
  eraseJFFS2 0 find a bad block
  11-12 12-20 22-23
  eraseflashfs1 0 find a bad block
  680-700 700-743
  eraseflashfs2 0 find a bad block
  744-800 800-1007
  eraseflashfs 0 find a bad block
  744-799 801-900 900-1007
  eraseRootfs 255 g_iPartitionNum = 8, size = 800000 Bad block scan fail
  680-699 701-743 690
  eraseAll 0 find a bad block
  0-5 5-11 13-20 22-30 32-39 42-689 691-699 701-799 801-899 901-1023
  5 12 21 31 40-41 690 700 800 900

flashfs2IsChange: the flashfs2 entry must have the profile's size (the 256 MiB one from a device
of 0x10000000 bytes on) and end where an NFDI entry starts, at the end of the device. A later
flashfs2 entry replaces an earlier one; the first NFDI entry ends the list; a missing kind of
entry means the layout differs. The erase commands of the last three records refuse a table of
fewer than three. t lays a table over a fresh chip (NAME:OFFSET:SIZE records, the whole chip
first) and asks.

  $ t() { nk_device $1 table=$2; nandkeep flashfs2IsChange; echo $?; }; L=linux:0:0x8000000 F=Flashfs-2:0x5d00000:0x2100000 N=NFDI:0x7e00000:0x200000
  $ t 128 $L,$F,$N; t 128 $L,Flashfs-2:0x5e00000:0x2000000,$N; t 128 $L,$F; t 128 $L,$F,NFDI:0x7c00000:0x400000
  0
  255
  255
  255
  $ t 128 $L,$N; t 128 $L,Flashfs-2:0x5ce0000:0x2120000,$N; t 256 linux:0:0x10000000,Flashfs-2:0x6400000:0x9300000,NFDI:0xf800000:0x800000
  255
  255
  0
  $ t 128 Boot:0:0x8000000,Flashfs-2:0x5e00000:0x2000000,flashfs2:0x5d00000:0x2100000,$N,flashfs2:0x4000000:0x4000000
  0
  $ nk_device 128 table=$L,boot:0x20000:0x100000 && each eraseflashfs1 eraseflashfs2 eraseflashfs eraseJFFS2 eraseRootfs | uniq -c | awk '{ $1 = $1; print }'; nk_erased
  5 255 Nandkeep notify -> too few partitions for this command

Three entries are enough: the third from the end is then the whole-chip entry, which eraseflashfs1
erases whole.

  $ nk_device 128 table=$L,$F,$N && nandkeep eraseflashfs1 && nk_erased
  0-1023

The 256 MiB chip: its own table agrees with its profile; the partitions are its own.

  $ nk_device 256 && nandkeep flashfs2IsChange && nandkeep eraseflashfs2 && nandkeep eraseJFFS2 && nk_erased
  808-1983 11-23
  $ nandkeep eraseRootfs && nk_erased
  g_iPartitionNum = 8, size = 1000000
  680-807 680-807

Over an edited partition table (table writes one whose erase size is 128 KiB from "SIZE NAME"
entries); the next device restores the real one.

  $ nk_device 128 && P=$(nk_table) && cp "$P" proc_mtd.orig
  $ table() { echo 'dev:    size   erasesize  name' >"$P"; i=0; for e; do
  >   echo "mtd$i: ${e% *} 00020000 \"${e#* }\"" >>"$P"; i=$((i + 1)); done; }

The profile comes from the first entry's size: up to 0x0FFFFFFF the 128 MiB one (a size no chip
has).

  $ table "0FFFFFFF linux" "02100000 Flashfs-2" "081FFFFF NFDI"; nandkeep flashfs2IsChange

Commands that step by the erase size, flashVerify too, refuse one that is not a whole number of
128 KiB pieces, 0 included.

  $ for e in 00010000 00000000; do sed "s/ 00020000 / $e /" proc_mtd.orig >"$P"; each "erase 0 20000" eraseAll badBlockReport flashVerify; done | uniq -c | sed 's/^ *//'
  8 255 Nandkeep notify -> erase size not supported

So does every command that works on the flash when no chip can have the whole device's erase
size: 64 KiB; 384 KiB, of which the device is no whole number; 2 GiB, more than the device; 4 GiB,
more than an erase request carries, on a device that claims more. Each erase request would fail
and retire a good block; the command is refused before the device is locked, and nothing is erased
or marked.

  $ for t in "08000000 00010000" "08000000 00060000" "08000000 80000000" "ffffffffffffffff 100000000"; do sed "2s/ [0-9a-f]* 00020000 / $t /" proc_mtd.orig >"$P"
  >   each "write $IN/five.txt 0 20000" "upgradeFW $IN/A.boot $IN/A.kernel $IN/A.dtb $IN/A.rootfs $IN/A.defconf" "writetempconf $IN/five.txt" \
  >   "writetempdata $IN/five.txt" "writeNFDI $IN/five.txt" eraseflashfs2 eraseRootfs systemRecovery "readtempconf o" "setBadBlockToBBT 0"; done | uniq -c | sed 's/^ *//'; nk_erased; nk_bad
  40 255 Nandkeep notify -> erase size not supported

A device of exactly one erase block is still a device.

  $ table "00020000 linux" && nandkeep eraseAll && nk_erased
  0

Erase blocks of 256 KiB: the block-level repair of a pair with an ECC event is refused, once per
pair (the other checks of the pair fail on the wrong geometry).

  $ cp proc_mtd.orig "$P" && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_flip 0xC20800 1 && nk_erased >/dev/null
  $ sed '2s/ 00020000 / 00040000 /' proc_mtd.orig >"$P"; nandkeep systemRecovery >out; echo $? $(grep -c 'larger than 128 KiB, block repair not possible' out); cp proc_mtd.orig "$P"
  254 2

A device size beyond 4 GiB: walks over the whole device stop at 4 GiB, the blocks past the chip
counting as bad.

  $ table "ffffffffffffffff linux" && nandkeep badBlockReport | sed -n '1p;$p'; nandkeep badBlockReport | wc -l
  Find a bad block at offset = 0x8000000
  Find a bad block at offset = 0xfffe0000
  31744
  $ nandkeep eraseAll && nk_erased
  0-1023
