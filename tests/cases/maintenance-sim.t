Maintenance cases that need the simulator's own files: a partition list that goes away, the
simulator's state as a destination, the layouts of its nodes.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ nk_device 128 && P=$NANDKEEP_SIM_DIR/proc_mtd && cp "$P" proc_mtd.orig

/proc/mtd gone while flashfs2IsChange waited for the device.

  $ upto() { i=0; until grep -qs "$1" "$2" || [ $i -eq 60 ]; do sleep 1; i=$((i + 1)); done; }; cp proc_mtd.orig "$P"
  $ nandkeep badBlockManagement >scan.out 2>&1 & s=$!; upto Pattern scan.out
  $ nandkeep flashfs2IsChange >check.out 2>&1 & c=$!; upto waiting check.out; rm "$P"; kill $s; wait $c
  [255]
  $ cat check.out
  nandkeep: waiting for another nandkeep to finish
  
   Nandkeep notify -> fopen()
  /proc/mtd (no-eol)

A destination that is one of the simulator's files (its state through a link, its partition
list, its lock, the programs of the flashstatus command) is refused; the device is left as it
was.

  $ nk_device 128 && nandkeep writetempconf "$IN/five.txt" && nk_erased
  1007 1006
  $ cd "$NANDKEEP_SIM_DIR" && ln -s state.bin state.link && each "readtempconf state.link" "badBlockRead proc_mtd 0 20000" "badBlockRead lock 0 20000" "badBlockRead bin/cfgvault 0 20000"; cd - >/dev/null
  255 Nandkeep notify -> destination is the flash device itself state.link Nandkeep notify -> destination is the flash device itself state.link Nandkeep notify -> size check fail
  255 Nandkeep notify -> destination is the flash device itself proc_mtd
  255 Nandkeep notify -> destination is the flash device itself lock
  255 Nandkeep notify -> destination is the flash device itself bin/cfgvault
  $ nk_erased; nk_erased_range 0 0x20000; nandkeep readtempconf out && cmp out "$IN/five.txt"
  erased

eraseRootfs watches the ECC counters of the node it reads through, whether the partitions are
siblings of the whole-device node (as nandsim lays them out) or its children: a block of flashfs1
whose zeros read back with a correction (1-bit ECC) is retired either way. The whole-device node
sees the partition's corrections only when the partitions sit under it.

  $ for l in siblings nested; do nk_simctl create --layout $l >/dev/null && nk_simctl fault add bitflip 690 &&
  >   nandkeep eraseRootfs >/dev/null; echo "$l: $? bad $(nk_bad) mtd0 $(nk_simctl ecc 0 | head -1) mtd5 $(nk_simctl ecc 5 | head -1)"; done
  siblings: 0 bad 690 mtd0 corrected 0 mtd5 corrected 1
  nested: 0 bad 690 mtd0 corrected 1 mtd5 corrected 1
