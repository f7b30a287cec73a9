The record stores: temporary configuration (two one-block copies from the top of flashfs2 down,
below NFDI), temporary data (from the start of flashfs2 up to the lower tempconf copy) and NFDI
(two copies split over the NFDI partition's good blocks, its last four blocks the bad-block
table). A record is a little-endian length word, the payload, the CRC-32 of the payload and 0xFF
up to a multiple of four, laid over the good blocks of its area.

  $ . "$TESTDIR/lib.sh"
  $ tally() { "$@" >log; s=$?; sort log | uniq -c | awk '{ $1 = $1; print }'; return $s; }

Erased flash holds no record: the checks fail silently, every read names each candidate it
looked at (readtempconf gives up after three, readNFDI stops short of the table) and creates no
destination.

  $ nk_device 128 && for s in tempconf tempdata NFDI; do nandkeep check$s; c=$?; r=$(tally nandkeep read$s o); echo $c $? $r; done
  255 255 3 3 Nandkeep notify -> size check fail
  255 255 1 1 Nandkeep notify -> size check fail
  255 255 12 12 Nandkeep notify -> size check fail
  $ test -e o || echo no destination
  no destination

Two tempconf copies, candidates 1 and 2; the exact record of a 5-byte and of an empty file, the
area erased whole before each write.

  $ nandkeep writetempconf "$IN/five.txt" && nk_erased && nk_dump 0x7de0000 20 | nk_hex
  1007 1006
  05 00 00 00 37 0a 38 0a 39 45 a7 0c 35 ff ff ff
  ff ff ff ff
  $ nandkeep writetempconf "$IN/empty.txt" && nk_erased && nandkeep checktempconf && nk_dump 0x7dc0000 16 | nk_hex
  1007 1006
  00 00 00 00 00 00 00 00 ff ff ff ff ff ff ff ff
  $ nandkeep readtempconf o && wc -c <o
  0

Started with standard input closed, the tool may get descriptor 0 for the file it reads or
writes: that is a file like any other.

  $ nandkeep writetempconf "$IN/five.txt" <&- && nandkeep readtempconf o <&- && cmp o "$IN/five.txt" && nk_erased
  1007 1006

One block takes a payload of 0x1FFF8 bytes; one byte more is refused once, before anything is
erased, and the old copies stay. Sources that are not what they claim are refused the same way.

  $ nandkeep writetempconf "$IN/block.txt" && nk_erased && nk_dump 0x7dffff8 16 | nk_hex
  1007 1006
  0a 32 33 36 ea 03 1d fa ff ff ff ff ff ff ff ff
  $ mkfifo fifo && for f in "$IN/over.txt" missing . fifo /proc/self/status; do r=$(timeout 10 nandkeep writetempconf $f); echo $? $r; done
  255 Nandkeep notify -> size too large
  255 Nandkeep notify -> fopen()
  255 Nandkeep notify -> not a regular file
  255 Nandkeep notify -> not a regular file
  255 Nandkeep notify -> source size does not match its contents
  $ nk_erased; nandkeep readtempconf o && cmp o "$IN/block.txt" && nandkeep readtempconf no/such
  
   Nandkeep notify -> fopen()
  no/such
   Nandkeep notify -> fopen()
  no/such
   Nandkeep notify -> size check fail
  [255]

Bad candidates are passed over uncounted, by the write and by the read; the read gives up at the
third failure on a good block.

  $ nk_device 128 badblocks=1007,1006 && nandkeep writetempconf "$IN/five.txt" && nk_erased && nandkeep readtempconf o && cmp o "$IN/five.txt"
  1005 1004
  $ nk_dump 0x7da0000 0x20000 >rec && nandkeep erase 7d80000 40000 && nandkeep write rec 7d60000 20000
  $ tally nandkeep readtempconf o && cmp o "$IN/five.txt"
  2
  2 Nandkeep notify -> size check fail
  $ nandkeep erase 7d60000 20000 && nandkeep write rec 7d40000 20000 && tally nandkeep readtempconf o
  3
  3 Nandkeep notify -> size check fail
  [255]
  $ nk_erased
  1004-1005 1003 1003 1002

Temporary data starts in flashfs2's first block, which is no tempconf candidate; without copies
it may take all of flashfs2. The candidates are searched once: the first one, unreadable (two
flipped bits in one ECC step), counts one ECC failure. The checksum word lands at every split over
a bad block.

  $ nk_device 128 badblocks=745,1009,1010 && nk_flip 0x7DE0000 2 && nandkeep writetempdata "$IN/five.txt" && nandkeep eccStatus 0 0
  Current ECC corrected = 0, failed = 1, badblocks = 3, bbtblocks = 0
  At 0x0 offset ECC corrected = 0, failed = 1
  $ nandkeep writetempdata "$IN/five.txt" && nandkeep checktempconf
  [255]
  $ nk_erased
  744 746-1007 744 746-1007
  $ for n in 131064 131065 131066 131067 131068 131069; do head -c $n "$IN/A.boot" >p
  >   nandkeep writetempdata p && nandkeep readtempdata o && cmp o p && nk_dump 0x5d40000 8 | nk_hex; done
  ff ff ff ff ff ff ff ff
  be ff ff ff ff ff ff ff
  07 09 ff ff ff ff ff ff
  70 67 c1 ff ff ff ff ff
  7f c2 7c 47 ff ff ff ff
  36 7b 6a 45 dd ff ff ff

With two tempconf copies, tempdata ends below the lower one; the room counts good blocks only, and
a record in NFDI's first block above them is no tempconf copy. A read into a full device fails on
the short write, or for a short record on the close.

  $ nk_erased; nandkeep writetempconf "$IN/five.txt" && nandkeep writetempdata "$IN/A.boot" && nk_erased
  744 746-1007 744 746-1007 744 746-1007 744 746-1007 744 746-1007 744 746-1007
  1007 1006 744 746-1005
  $ head -c 131068 "$IN/A.boot" >p1; tail -c +131069 "$IN/A.boot" >p2; echo $(nk_same 0x5d00004 p1; nk_same 0x5d40000 p2)
  same same
  $ nandkeep checktempconf && nandkeep readtempdata o && cmp o "$IN/A.boot"
  $ nandkeep writetempdata "$IN/A.rootfs" && nk_erased && nandkeep checktempdata && nandkeep readtempdata o && cmp o "$IN/A.rootfs"
  744 746-1005
  $ dd if=/dev/null of=big bs=1 seek=$((261 * 131072 - 7)) 2>/dev/null; nandkeep writeNFDI "$IN/five.txt" && nandkeep writetempdata big
  
   Nandkeep notify -> size too large
  [255]
  $ for f in "$IN/A.rootfs" "$IN/five.txt"; do nandkeep writetempdata $f && o=$(nandkeep readtempdata /dev/full); echo $? $o; done; nk_erased >/dev/null
  255 Nandkeep notify -> fwrite()
  255 Nandkeep notify -> fwrite()

A checksum word split by a block boundary whose second half cannot be read (the fourth read call):
the read fails there, with no verdict on half a word.

  $ head -c $((0x1FFFA)) "$IN/A.rootfs" >split && nandkeep writetempdata split && nk_fail read 4 && nandkeep readtempdata o
  iCnt = 0
  
   Nandkeep notify -> read fail
  [255]
  $ nandkeep readtempdata o && cmp o split && nk_erased >/dev/null

NFDI: ten good blocks below the table, so copy 2 starts after the fifth (block 1015); the table
is never erased. Both copies together must fit in the good blocks; a checksum word split over the
last block of a copy fits too. A source too large, missing or not what it claims is refused
before anything is erased, and the record stays.

  $ nandkeep writeNFDI "$IN/A.boot" && nk_erased && nandkeep checkNFDI && nandkeep readNFDI o && cmp o "$IN/A.boot"
  1008 1011-1019
  $ echo $(nk_same 0x7e00004 p1; nk_same 0x7e60000 p2; nk_same 0x7ee0004 p1; nk_same 0x7f00000 p2)
  same same same same
  $ for n in $((0xA0000 - 8)) $((0x80000 - 6)); do head -c $n "$IN/A.rootfs" >p && nandkeep writeNFDI p && nandkeep readNFDI o && cmp o p; done
  $ head -c $((0xA0000 - 7)) "$IN/A.rootfs" >p; nk_erased; nandkeep writeNFDI p
  1008 1011-1019 1008 1011-1019
  
   Nandkeep notify -> size too large
  [255]
  $ for f in missing . /proc/self/status; do say nandkeep writeNFDI $f; done; nk_erased; nandkeep checkNFDI
  255 Nandkeep notify -> fopen()
  255 Nandkeep notify -> not a regular file
  255 Nandkeep notify -> source size does not match its contents

Damage in each field of a record: the check fails silently, the read says why, with the computed
and the stored checksum, and keeps what it read.

  $ nandkeep writetempdata "$IN/five.txt" && nk_erased && nk_dump 0x5d00000 16 >r
  744 746-1005
  $ hit() { cp r h; printf "$2" | dd of=h bs=1 seek=$1 conv=notrunc 2>/dev/null
  >   nandkeep write h 5d00000 20000; nandkeep checktempdata || { r=$(nandkeep readtempdata o); echo $? $r; }; }
  $ hit 0 '\004'; hit 1 '\377'; hit 3 '\020'; hit 12 '\064'; hit 6 '\060'; nk_hex <o
  255 Nandkeep notify -> CRC check error CRC check error 0xB665CF37 / 0xCA74539
  255 Nandkeep notify -> CRC check error CRC check error 0xF7DDEC4A / 0xFFFFFFFF
  255 Nandkeep notify -> size check fail
  255 Nandkeep notify -> CRC check error CRC check error 0x350CA745 / 0x340CA745
  255 Nandkeep notify -> CRC check error CRC check error 0x3B1FF6FD / 0x350CA745
  37 0a 30 0a 39
  $ nandkeep readtempdata o
  
   Nandkeep notify -> CRC check error
  CRC check error 0x3B1FF6FD / 0x350CA745 
  [255]

Without bad blocks the 128 MiB chip keeps twelve blocks below the table, six a copy: the
largest record fills six blocks. The 256 MiB chip's table takes 52 of the 64 blocks of its NFDI
partition: the write erases the twelve left below it.

  $ nk_device 128 && head -c $((0xC0000 - 8)) "$IN/A.rootfs" >p && nandkeep writeNFDI p && nandkeep readNFDI o && cmp o p && nk_erased
  1008-1019
  $ nk_device 256 && nandkeep writeNFDI "$IN/five.txt" && nk_erased
  1984-1995

The stores need records 3 and 4 of the partition table (five records will do); writeNFDI needs
the NFDI partition to start where flashfs2 ends.

  $ T=linux:0:0x8000000,kernel:0x300000:0x1200000,rootfs:0x1500000:0x4000000; nk_device 128 table=$T,Flashfs-2:0x5d00000:0x2100000,NFDI:0x7e00000:0x200000 && nandkeep writeNFDI "$IN/five.txt" && nk_erased
  1008-1019
  $ nk_device 128 table=$T,Flashfs-2:0x5d00000:0x20e0000,NFDI:0x7e00000:0x200000 && nandkeep writeNFDI "$IN/five.txt"
  
   Nandkeep notify -> NFDI partition does not match the flashfs2 partition, nothing written
  [255]
  $ nk_device 128 table=$T,Flashfs-2:0x5d00000:0x2100000 && for c in checktempconf 'readtempconf d' 'writetempconf in' \
  >   checktempdata 'readtempdata d' 'writetempdata in' checkNFDI 'readNFDI d' 'writeNFDI in'; do
  >   o=$(nandkeep $c 2>&1); echo $? $o; done | uniq -c | awk '{ $1 = $1; print }'; nk_erased; test -e d || echo no destination
  9 255 Nandkeep notify -> mtd partition table has fewer than 5 records
  no destination

A block that can neither be erased nor marked bad where a store writes first, or whose second
page cannot be programmed: tempconf and NFDI go on to their other places, tempdata, which has one
place, fails. So does a tempdata record whose checksum word spills into a block whose first page
cannot be programmed; that block is retired.

  $ for a in "1007 writetempconf" "1008 writeNFDI" "744 writetempdata"; do b=${a% *}; for p in "weakblocks=$b:0 weakpages=$((b * 64)):0" "weakpages=$((b * 64 + 1)):0"; do nk_device 128 $p && say nandkeep ${a#* } "$IN/A.defconf"; done; done
  0 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase fail
  0 Nandkeep notify -> write fail
  0 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase fail
  0 Nandkeep notify -> write fail
  255 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase fail
  255 Nandkeep notify -> write fail
  $ nk_device 128 weakpages=$((745 * 64)):0 && head -c 131065 "$IN/A.boot" >p && say nandkeep writetempdata p; nk_bad; nandkeep checktempdata
  255 Nandkeep notify -> set bad block fail Nandkeep notify -> write fail
  745
  [255]

The last tempconf candidate is the block right above the one where tempdata starts: a copy found
only there is found by checktempconf, which passes over any number of places without a copy.

  $ nk_device 128 && nandkeep writetempconf "$IN/five.txt" && nk_dump 0x7de0000 0x20000 >copy &&
  > nandkeep erase 7DC0000 40000 && nandkeep write copy 5D20000 20000 && nk_erased && nandkeep checktempconf
  1007 1006 1006-1007 745

A whole device that ends below the flashfs2 region, or less than the NFDI blocks and one more above
its start, leaves no place for a tempconf copy: writetempconf and checktempconf fail; one that
ends further up has places again.

  $ nk_device 128 && P=$(nk_table) && cp "$P" p.orig && for s in 05C00000 05D40000 07E20000; do sed "2s/08000000/$s/" p.orig >"$P"; echo $s $(say nandkeep writetempconf "$IN/five.txt") $(say nandkeep checktempconf); done; cp p.orig "$P"
  05C00000 255 255
  05D40000 255 255
  07E20000 0 0

A flashfs2 partition that the table gives as empty, or too small for the record found there, holds
no tempdata record: readtempdata and checktempdata fail, and the read says so unless the partition
is empty.

  $ nandkeep writetempdata "$IN/five.txt" && for s in 00000000 00000001 00000004 02100000; do sed "5s/ 02100000 / $s /" p.orig >"$P"; echo $s $(say nandkeep readtempdata out) $(say nandkeep checktempdata); done; cp p.orig "$P"
  00000000 255 255
  00000001 255 Nandkeep notify -> size check fail 255
  00000004 255 Nandkeep notify -> size check fail 255
  02100000 0 0

An NFDI partition that the table gives as no more blocks than the bad-block tables take (4 here)
has no room for a copy: checkNFDI and readNFDI fail although a record was written; with one block
more they find its first copy.

  $ nandkeep writeNFDI "$IN/five.txt" && for s in 00080000 000a0000; do sed "6s/ 00200000 / $s /" p.orig >"$P"; echo $s $(say nandkeep checkNFDI) $(say nandkeep readNFDI out); done; cp p.orig "$P"
  00080000 255 255
  000a0000 0 0
