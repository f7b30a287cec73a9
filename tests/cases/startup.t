Start-up reads the partition table, then one command line picks one command. The usage text
goes to standard error, the banner to standard output, status 0.

  $ . "$TESTDIR/lib.sh"
  $ nk_device 128
  $ nandkeep 2>&1 >/dev/null
  usage: write <Image-file> <Offset> <Len> | <HTTP/FTP>
         checktempconf
         readtempconf <DEST-file>
         writetempconf <SOURCE-file>
         checkdefconf
         readdefconf <DEST-file>
         writedefconf <SOURCE-file>
         upgradeFW <Boot-file> <Kernel-file> <DTB-file> <Rootfs-file> <DefConf-file>
         systemRecovery | <FlashStatus>
         checktempdata
         readtempdata <DEST-file>
         writetempdata <SOURCE-file>
         checkNFDI
         readNFDI <DEST-file>
         writeNFDI <SOURCE-file>
         eraseflashfs1
         eraseflashfs2
         eraseflashfs
         eraseJFFS2
         updateBoot <SOURCE-file>
         updateBst <SOURCE-file>
         updateDTB <SOURCE-file>
         eccStatus <Offset> <Len>
         eraseRootfs
         badBlockManagement
         badBlockReport
         badBlockRead <DEST-file> <Offset> <Len>
         badBlockErase <Offset> <Len>
         setBadBlockToBBT <Offset>
         flashVerify ## please umount flashfs
         lifeCycleTest | <Len> | <times> ## please umount flashfs
         unstableBitsTestWrite <Pattern>
         unstableBitsTestCheck <Pattern>
         \tBasic pattern: 0x55 (0101), 0xAA (1010), 0x00 (0000), 0xFF (1111), rand (esc)
         flashfs2IsChange
         erase <Offset> <Len>
         eraseAll
         info
  $ nandkeep 2>/dev/null
  Nandkeep version: 1.0.1.26
  Made by the nandkeep flash tools team
  $ nandkeep info
  Build info: $Id: 1.0.1.26,nandkeep,2017/04/18 12:00:00 $
  
  Feature include (+) or not (-):
  -_KVL_FW
  SOC Platform
  -_ORSEN
  -_KT724
  -_VELDRA3

A command word that no command takes with that many words gets the same usage and banner with
status 0: words are compared exactly, and every command takes only its own argument counts.
Nothing reaches the flash and nothing is logged.

  $ nandkeep >usage 2>&1
  $ u() { for a; do nandkeep $a >out 2>&1 && cmp -s out usage || echo "not the usage: $a"; done; }
  $ u "" nosuch Info "info x" "write x" "write x y" "upgradeFW a b c d" "upgradeFW a b c d e f" \
  >   "systemRecovery 2" "systemRecovery zz" "systemRecovery x y" "badBlockRead x y" \
  >   "badBlockRead x y z w" unstableBitsTestWrite unstableBitsTestCheck
  $ for w in checkdefconf checktempconf checktempdata checkNFDI eraseflashfs1 eraseflashfs2 \
  >   flashfs2IsChange eraseflashfs eraseJFFS2 eraseRootfs badBlockManagement badBlockReport \
  >   flashVerify eraseAll; do u "$w x"; done
  $ for w in readdefconf writedefconf readtempconf writetempconf readtempdata writetempdata \
  >   readNFDI writeNFDI updateBoot updateBst updateDTB setBadBlockToBBT; do u "$w" "$w x y"; done
  $ for w in eccStatus badBlockErase erase; do u "$w x" "$w x y z"; done
  $ nk_erased; nk_syslog
