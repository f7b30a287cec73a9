What only the simulator stages for the record stores: programs that report success and store
nothing, reads that fail, a partition table edited in /proc/mtd. say prints a command's status and
its words.

  $ . "$TESTDIR/lib.sh"
  $ nk_only sim
  $ say() { r=$("$@"); echo $? $r; }

writeNFDI succeeds while one copy holds; the reads take copy 1 (block 1008) before copy 2
(block 1014).

  $ nk_device 128
  $ nk_simctl fault add program-lost 1014 && nandkeep writeNFDI "$IN/five.txt" && nandkeep checkNFDI
  $ nk_erased_range 0x7ec0000 0x20000
  erased
  $ nk_simctl fault clear all && nk_simctl fault add program-lost 1008 && nandkeep writeNFDI "$IN/five.txt"
  $ nandkeep readNFDI o | sort | uniq -c | awk '{ $1 = $1; print }'; cmp o "$IN/five.txt"
  6
  6 Nandkeep notify -> size check fail
  $ nk_simctl fault add program-lost 1014 && nandkeep writeNFDI "$IN/five.txt"
  [255]
  $ nandkeep checkNFDI
  [255]

writetempconf fails when fewer than two copies check valid after the write.

  $ nk_simctl fault clear all && nk_simctl fault add program-lost 1006 && nandkeep writetempconf "$IN/five.txt"
  [255]

A read that fails (a piece whose second call also comes back short): readtempconf and readNFDI
take their other copy, readdefconf copy 0; readtempdata, which has one copy, fails.

  $ nk_simctl fault clear all && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"
  $ for c in tempconf tempdata NFDI; do nandkeep write$c "$IN/five.txt" || break; done; nk_erased >/dev/null
  $ for c in readtempconf readtempdata readNFDI readdefconf; do nk_simctl fault add short-read 2; say nandkeep $c out; done
  0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail
  255 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail
  0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail Nandkeep notify -> size check fail
  0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail read Default Value 0

The stores need records 3 and 4 of the partition table (five records will do); writeNFDI needs
the NFDI partition to start where flashfs2 ends.

  $ nk_simctl fault clear all && cp "$IN/five.txt" in && head -n 6 flash/proc_mtd >t && cp t flash/proc_mtd
  $ nandkeep writeNFDI in && nk_erased
  1008-1019
  $ sed '/^mtd3/s/02100000/020e0000/' flash/proc_mtd >t && cp t flash/proc_mtd && say nandkeep writeNFDI in
  255 Nandkeep notify -> NFDI partition does not match the flashfs2 partition, nothing written
  $ head -n 5 flash/proc_mtd >t && cp t flash/proc_mtd
  $ for c in checktempconf 'readtempconf d' 'writetempconf in' checktempdata 'readtempdata d' \
  >   'writetempdata in' checkNFDI 'readNFDI d' 'writeNFDI in'; do say nandkeep $c; done | uniq -c
        9 255 Nandkeep notify -> mtd partition table has fewer than 5 records
  $ nk_erased; test -e d || echo no destination
  no destination
