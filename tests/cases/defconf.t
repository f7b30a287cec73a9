The default configuration: one record behind each rootfs image, from the 128 KiB boundary after
the image's data to the region's end. Copy 1 (rootfs 1, the backup) always comes first. Rootfs 0
starts behind a bad block and has another inside its data; rootfs 1's record area, blocks 448 to
679, has a bad one at 500. say prints a command's status and its words.

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128 badblocks=168,175,500 && nandkeep write "$IN/A.rootfs" 3500000 2000000 && nk_erased && nandkeep checkdefconf
  424-499 501-679
  check Default Value 1 fail
  [255]
  $ say nandkeep readdefconf o; say nandkeep writedefconf "$IN/A.defconf"; nk_erased
  255 Nandkeep notify -> size check fail Nandkeep notify -> check Magic Num fail
  255 Nandkeep notify -> check Magic Num fail get Default Value 0 offset fail
  448-499 501-679
  $ nandkeep write "$IN/A.rootfs" 1500000 2000000 && nk_erased && nandkeep checkdefconf
  169-174 176-423
  check Default Value 0 fail
  [255]
  $ nandkeep readdefconf o && cmp o "$IN/A.defconf"
  read Default Value 1
  $ nandkeep writedefconf "$IN/A.defconf" && nk_erased && nandkeep checkdefconf
  448-499 501-679 194-423
  $ echo $(nk_same 0x1840004 "$IN/A.defconf"; nk_same 0x3800004 "$IN/A.defconf")
  same same

A source that is missing or too large for the area leaves both copies alone. One that fits the
area's length but not its good blocks loses copy 1 and leaves copy 0, which a read falls back to.

  $ dd if=/dev/null of=big bs=1 seek=$((0x1D00000 - 7)) 2>/dev/null; say nandkeep writedefconf missing; say nandkeep writedefconf big; nk_erased
  255 Nandkeep notify -> fopen() update Default Value 1 fail
  255 Nandkeep notify -> size too large update Default Value 1 fail
  $ dd if=/dev/null of=big bs=1 seek=$((0x1D00000 - 8)) 2>/dev/null; nandkeep writedefconf big
  
   Nandkeep notify -> write fail: Not enought flash space
  update Default Value 1 fail
  [255]
  $ nk_erased; nandkeep readdefconf o && cmp o "$IN/A.defconf"
  448-499 501-679
  read Default Value 0

A copy 1 record whose length word is one short is read past with its checksum message.

  $ nandkeep writedefconf "$IN/A.defconf" && nk_dump 0x3800000 672 >r
  $ printf '\225' | dd of=r bs=1 conv=notrunc 2>/dev/null; nandkeep write r 3800000 20000 && nandkeep checkdefconf
  check Default Value 1 fail
  [255]
  $ nandkeep readdefconf o && cmp o "$IN/A.defconf"
  
   Nandkeep notify -> CRC check error
  CRC check error 0xE92BDB1D / 0x3841910A 
  read Default Value 0

A damaged rootfs 1 image hides copy 1: the image check says why, and the write stops before copy
0.

  $ hit() { head -c 131072 "$1" >h; printf "$3" | dd of=h bs=1 seek=$2 conv=notrunc 2>/dev/null
  >   nandkeep write h 3500000 20000 && say nandkeep checkdefconf; }
  $ nandkeep writedefconf "$IN/A.defconf" && nk_erased && hit "$IN/A.rootfs" 0 '\126\031\005\047'
  448-499 501-679 194-423 448 448-499 501-679 194-423
  255 Nandkeep notify -> check Magic Num fail get Default Value 1 offset fail
  $ hit "$IN/A.rootfs" 32 x
  255 Nandkeep notify -> Header CRC check fail get Default Value 1 offset fail
  $ hit "$IN/A.rootfs" 4096 x >/dev/null; nandkeep checkdefconf
  
   Nandkeep notify -> Kernel/Rootfs CRC check error
  Data CRC check error 0x57FA98FC / 0xD2C8B685 
  get Default Value 1 offset fail
  [255]
  $ say nandkeep readdefconf o; cmp o "$IN/A.defconf"; say nandkeep writedefconf "$IN/A.defconf"
  0 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0x57FA98FC / 0xD2C8B685 read Default Value 0
  255 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0x57FA98FC / 0xD2C8B685 get Default Value 1 offset fail

A DTB-sized image has its record in the block after its header block, and its damage is worded
as a DTB's.

  $ nandkeep write "$IN/A.dtb" 3500000 20000 && nk_erased
  424 424 424 424
  $ nandkeep writedefconf "$IN/A.defconf" && nk_erased && nandkeep readdefconf o && cmp o "$IN/A.defconf"
  425-499 501-679 194-423
  read Default Value 1
  $ hit "$IN/A.dtb" 100 x
  255 Nandkeep notify -> DTB CRC check error DTB Data CRC check error 0xAB171154 / 0x879080BE get Default Value 1 offset fail

mk N makes c, an image of N zero data bytes, with the checksums gzip keeps in its trailer. 0x1FFC0
bytes are of the rootfs class and end on the block boundary: one empty block follows. An image
whose data ends in the region's last good block leaves no room for the record; one whose data
runs past the region's end is incomplete.

  $ be() { awk -v n=$1 'BEGIN { printf "\\%o\\%o\\%o\\%o", n / 16777216, n / 65536 % 256, n / 256 % 256, n % 256 }'; }; crc() { be $(gzip -c "$1" | tail -c 8 | head -c 4 | od -An -tu4); }
  $ mk() { dd if=/dev/null of=d bs=1 seek=$1 2>/dev/null; printf '\047\005\031\126\0\0\0\0\0\0\0\0'"$(be $1)" >h
  >   printf '\0\0\0\0\0\0\0\0'"$(crc d)" >>h; head -c 36 /dev/zero >>h
  >   { head -c 4 h; printf "$(crc h)"; tail -c +9 h; } >c; dd if=/dev/null of=c bs=1 seek=$(($1 + 64)) 2>/dev/null; }
  $ mk 131008 && nandkeep write c 3500000 20000 && nandkeep writedefconf "$IN/A.defconf" && nk_erased
  424 424 426-499 501-679 194-423
  $ hit c 100 x
  255 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0xDC8CC0A5 / 0x6F131372 get Default Value 1 offset fail
  $ mk $((255 * 131072 - 65)) && nandkeep write c 3500000 2000000 && say nandkeep checkdefconf
  255 get Default Value 1 offset fail
  $ mk $((256 * 131072 - 64)) && nandkeep write c 3500000 2020000 && say nandkeep checkdefconf
  255 Nandkeep notify -> Kernel/Rootfs CRC check error Data CRC check error 0xF18896F5 / 0x1E7F36D0 get Default Value 1 offset fail

Recovery of a rootfs pair whose images are equal repairs the record behind them; with block 423
marked bad, rootfs 0 keeps no good block behind an image whose data ends in block 422, so its
record can be neither written nor repaired (the kernel pair, never written, fails its checks); the
block-level repair says that rootfs 0 has too few good blocks.

  $ nandkeep setBadBlockToBBT 34E0000 && mk $((252 * 131072)) && nandkeep write c 3500000 2000000 && nandkeep write c 1500000 2000000 && nandkeep writedefconf "$IN/A.defconf"
  update Default Value 0 fail
  [255]
  $ nandkeep systemRecovery 1 >out; echo $?; awk NF out
  252
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> recover image fail
   Nandkeep notify -> update Default Value fail
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> check Source defconf image fail
  recovered image
  $ nandkeep systemRecovery >out; echo $?; awk NF out
  254
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> recover image fail
   Nandkeep notify -> update Default Value fail
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> check Source mkimg fail
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> get Normal image len fail
   Nandkeep notify -> check Magic Num fail
   Nandkeep notify -> get Backup image len fail
   Nandkeep notify -> check Source defconf image fail
   Nandkeep notify -> ECC Fail 0: normal block not enough
   Nandkeep notify -> ECC Corrected 0: normal block not enough
   Nandkeep notify -> Bad block is too much
   Nandkeep notify -> Backup -> Normal, recover image fail
  recovered image

upgradeFW checks the default configuration against the room behind the rootfs image before
anything is erased: an image that ends half-way into block 254 of its region leaves one whole
block, where a record of 0x18000 bytes fits.

  $ nk_device 128 && mk $((254 * 131072 + 65536 - 64)) && head -c 98304 "$IN/A.rootfs" >conf && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" c conf && nandkeep readdefconf o && cmp o conf
  read Default Value 1
