Start-up where the simulator's own files stand for the system's: /proc/mtd removed, a lock
that cannot be taken. Every failure ends the run with status 255 before the command line is
read, so even info and the usage text are refused.

  $ . "$TESTDIR/lib.sh" && nk_only sim
  $ nk_device 128

A partition list that is missing is named in the message.

  $ rm "$NANDKEEP_SIM_DIR/proc_mtd"; nandkeep info
  
   Nandkeep notify -> fopen()
  /proc/mtd (no-eol)
  [255]

A device that cannot be locked runs no command; info, which never touches the flash, still runs.

  $ nk_device 128 && rm -f "$NANDKEEP_SIM_DIR/lock"; mkdir "$NANDKEEP_SIM_DIR/lock"; nandkeep checktempconf
  
   Nandkeep notify -> cannot lock the flash device
  [255]
  $ nandkeep info | head -n 1
  Build info: $Id: 1.0.1.26,nandkeep,2017/04/18 12:00:00 $
