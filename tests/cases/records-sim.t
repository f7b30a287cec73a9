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

A read call that fails outright, each of a command's in turn: the record reads and checks
take their other copy where there is one (tempdata has none); a write fails when its
read-back leaves fewer copies valid than the store needs (two for tempconf).

  $ nk_simctl fault clear all && nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"
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

A whole device that ends below the flashfs2 region, or less than the NFDI blocks and one more above
its start, leaves no place for a tempconf copy: writetempconf and checktempconf fail; one that
ends further up has places again.

  $ P=$NANDKEEP_SIM_DIR/proc_mtd && cp "$P" p.orig && for s in 05C00000 05D40000 07E20000; do sed "2s/08000000/$s/" p.orig >"$P"; echo $s $(say nandkeep writetempconf "$IN/five.txt") $(say nandkeep checktempconf); done; cp p.orig "$P"
  05C00000 255 255
  05D40000 255 255
  07E20000 0 0
