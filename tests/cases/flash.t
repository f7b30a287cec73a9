The flash primitives as the commands show them, over calls that move fewer bytes than asked.
(A chunk that does not read back as written: upgrade-sim.t; a program that fails: upgrade.t;
calls that fail outright: the sweeps of records.t, recovery.t and factory.t.)

  $ . "$TESTDIR/lib.sh"

A piece is read by at most two calls that deliver data: a second call warns on standard output
and in the system log; when it still leaves bytes missing, a third call fails the piece.

  $ nk_device 128 && nk_short read 1 && nandkeep eccStatus 0 20000
  Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0
  iCnt = 2, ulSize = 0, iReturn = 65536
  At 0x0 offset ECC corrected = 0, failed = 0
  $ nk_short read 2 && say nandkeep eccStatus 0 20000
  255 Current ECC corrected = 0, failed = 0, badblocks = 0, bbtblocks = 0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail
  $ nk_syslog | uniq -c | sed 's/^ *//'
  2 user.err nandkeep: SYSTEM WARNING! read() System too slow!

The recovery's single pass reads by the same rules, so a healthy pair read with short calls gives
what the step-by-step recovery gives: the warning of a second call, and a first piece that fails
is the source check's read, which fails the region's recovery once (the other direction then
finds the pair whole).

  $ nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && nk_erased >/dev/null
  $ for a in "1" "2" "2 1"; do nk_short read ${a% *} && say nandkeep systemRecovery ${a#?}; done
  0 iCnt = 2, ulSize = 0, iReturn = 65536 recovered image
  0 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail Nandkeep notify -> check Source mkimg fail recovered image
  255 iCnt = 2, ulSize = 32768, iReturn = 32768 iCnt = 2 Nandkeep notify -> read fail Nandkeep notify -> check Source mkimg fail recovered image
  $ nk_syslog | uniq -c | sed 's/^ *//'; nk_erased
  3 user.err nandkeep: SYSTEM WARNING! read() System too slow!

A write piece is sent by as many calls as it takes: from the second call on each is reported,
from the third on also notified, and the bytes all arrive.

  $ nk_short write 3 && nandkeep write "$IN/block.txt" 200000 20000
  iCnt = 2, ulSize = 32768, iReturn = 32768
  iCnt = 2, iReturn = 16384
  
   Nandkeep notify -> write fail
  iCnt = 3, ulSize = 16384, iReturn = 16384
  iCnt = 3, iReturn = 16384
  
   Nandkeep notify -> write fail
  iCnt = 4, ulSize = 0, iReturn = 16384
  $ nk_syslog | uniq -c | sed 's/^ *//'; nk_same 0x200000 "$IN/block.txt"
  3 user.err nandkeep: SYSTEM WARNING! write() System too slow!
  same

