What only the simulator stages for the record stores: programs that report success and store
nothing, reads that fail. say prints a command's status and its words.

  $ . "$TESTDIR/lib.sh" && nk_only sim

writeNFDI succeeds while one copy holds; the reads take copy 1 (block 1008) before copy 2
(block 1014).

  $ nk_device 128 && nk_simctl fault add program-lost 1014 && nandkeep writeNFDI "$IN/five.txt" && nandkeep checkNFDI
  $ nk_erased_range 0x7ec0000 0x20000
  erased
  $ nk_simctl fault clear all && nk_simctl fault add program-lost 1008 && nandkeep writeNFDI "$IN/five.txt" && nandkeep readNFDI o | sort | uniq -c | awk '{ $1 = $1; print }'; cmp o "$IN/five.txt"
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
