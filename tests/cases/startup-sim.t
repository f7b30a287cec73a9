Start-up over an edited /proc/mtd: every failure ends the run with status 255 before the
command line is read, so even info and the usage text are refused.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ nk_device 128 && P=$NANDKEEP_SIM_DIR/proc_mtd && cp "$P" proc_mtd.orig

A node that cannot be opened: the path that failed (not the last one) follows the notify line.

  $ sed 's/^mtd3:/mtd9:/' proc_mtd.orig >"$P"; nandkeep info; nandkeep
  
   Nandkeep notify -> open(), please check mtd node device
  /dev/mtd9
   Nandkeep notify -> open(), please check mtd node device
  /dev/mtd9 (no-eol)
  [255]
  $ head -n 1 proc_mtd.orig >"$P"; nandkeep info
  
   Nandkeep notify -> no mtd partition in /proc/mtd
  [255]
  $ rm "$P"; nandkeep info
  
   Nandkeep notify -> fopen()
  /proc/mtd (no-eol)
  [255]

A record store whose whole device, temporary-data or NFDI record has an erase size of 0 is
refused before anything is read.

  $ for r in 0 3 4; do sed "s/^\(mtd$r: [0-9a-f]*\) 00020000/\1 00000000/" proc_mtd.orig >"$P"; say nandkeep readtempconf o; done; cp proc_mtd.orig "$P"
  255 Nandkeep notify -> mtd partition with erase size 0
  255 Nandkeep notify -> mtd partition with erase size 0
  255 Nandkeep notify -> mtd partition with erase size 0

A name longer than the record holds is read whole: the entries after it keep their places.

  $ sed "s/\"kernel\"/\"$(printf '%0300d' 0 | tr 0 n)\"/" proc_mtd.orig >"$P"
  $ nandkeep flashfs2IsChange && nandkeep eraseJFFS2 && nk_erased
  11-23

A device token longer than the record holds is cut at the record's end (63 bytes of path): that
node cannot be opened, and the message names the path as cut.

  $ sed "s/^mtd3:/mtd3$(printf '%060d' 0 | tr 0 n):/" proc_mtd.orig >"$P"; nandkeep checktempconf; echo " $?"; cp proc_mtd.orig "$P"
  
   Nandkeep notify -> open(), please check mtd node device
  /dev/mtd3nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn 255

A device that cannot be locked runs no command; info, which never touches the flash, still runs.

  $ rm -f "$NANDKEEP_SIM_DIR/lock"; mkdir "$NANDKEEP_SIM_DIR/lock"; nandkeep checktempconf
  
   Nandkeep notify -> cannot lock the flash device
  [255]
  $ nandkeep info | head -n 1
  Build info: $Id: 1.0.1.26,nandkeep,2017/04/18 12:00:00 $
