What only the simulator stages for the record stores: programs that report success and store
nothing.

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
