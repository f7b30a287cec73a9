The temporary configuration: two one-block copies from the top of the flashfs2 region down.

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128
  $ nandkeep checktempconf
  [255]
  $ nandkeep writetempconf "$IN/five.txt"
  $ nk_erased
  1007 1006
  $ nandkeep readtempconf out.txt && cmp out.txt "$IN/five.txt"
  $ nk_dump 0x7de0000 16 | nk_hex
  05 00 00 00 37 0a 38 0a 39 45 a7 0c 35 ff ff ff
