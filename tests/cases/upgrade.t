Writing and upgrading firmware. The device programs of the flashstatus command are found in PATH;
a stand-in of the parameter store in the case's own bin/ logs each call to "calls", runs the
commands of "hook" if there is one, hands over to the next cfgvault in PATH, and runs the commands
of "after" if there is one. say prints a command's status and its words.

  $ . "$TESTDIR/lib.sh"
  $ mkdir -p bin && PATH=$PWD/bin:$PATH && cat >bin/cfgvault <<'EOF' && chmod +x bin/cfgvault
  > #!/bin/sh
  > echo "cfgvault $*" >>calls
  > [ ! -f hook ] || . ./hook
  > d=$(cd "$(dirname "$0")" && pwd)
  > for p in $(echo "$PATH" | tr : ' '); do [ "$p" = "$d" ] || [ ! -x "$p/cfgvault" ] || { "$p/cfgvault" "$@"; s=$?; [ ! -f after ] || . ./after; exit $s; }; done
  > EOF
  $ up() { nandkeep upgradeFW "${1:-$IN/$S.boot}" "${2:-$IN/$S.kernel}" "${3:-$IN/$S.dtb}" "${4:-$IN/$S.rootfs}" "${5:-$IN/$S.defconf}"; }
  $ head -c 262144 "$IN/A.rootfs" >two.bin && head -c 131072 two.bin >one.bin && mkfifo fifo

write: a file that fits by size but not around the bad block, then a longer range; the region is
erased whole first, the chunks step over the bad block, and a file already in place costs no
erase. A file exactly as long as its range fits; a range ending in a part block has no room for a
whole chunk there after a bad block, and nothing is programmed past its end (the offset warning
does not stop the command).

  $ nk_device 128 badblocks=3,682
  $ nandkeep write "$IN/A.kernel" 5500000 180000
  
   Nandkeep notify -> write fail: Not enought flash space
  [255]
  $ nandkeep write "$IN/A.kernel" 5500000 1a0000 HTTP
  $ nandkeep write "$IN/A.kernel" 5500000 1a0000 FTP
  $ { nk_dump 0x5500000 0x40000; nk_dump 0x5560000 $((0x17F0E1 - 0x40000)); } | cmp - "$IN/A.kernel"
  $ nandkeep write two.bin 20000 40000 && nk_same 0x20000 two.bin
  same
  $ say nandkeep write two.bin 40000g 50000
  255 input offset [40000g] (base hex), but get [40000] Nandkeep notify -> write fail: Not enought flash space
  $ nk_erased_range 0x90000 0x10000
  erased
  $ say nandkeep write two.bin 7FE0000 40000
  255 Nandkeep notify -> write fail: Not enought flash space
  $ nk_erased
  680-681 683-691 680-681 683-692 1-2 2 4 1023

A file is compared with what its range holds: a byte that differs either way (one bit to set,
one to clear) costs an erase, and the bytes land whole.

  $ printf '7\n8\n:' >up.txt; printf '7\n8\n8' >down.txt; for f in "$IN/five.txt" up.txt down.txt; do nandkeep write $f 600000 20000; done; nk_erased; nk_same 0x600000 down.txt
  48 48 48
  same

Refusals, before any erase; an empty file is held by any range and costs nothing.

  $ each "write nofile 5500000 100000" "write $IN/empty.txt 5500000 20000" "write two.bin 5500000 3ffff" \
  >   "write two.bin 30000g 20000" "write two.bin FFFE0000 20001 HTTP" "write two.bin 40000 xyz FTP"; nk_erased
  255 Nandkeep notify -> fopen()
  0
  255 Nandkeep notify -> size too large
  255 input offset [30000g] (base hex), but get [30000] Nandkeep notify -> offset is not a multiple of the erase block
  255 Nandkeep notify -> range runs past 4 GiB
  255 input length [xyz] (base hex), but get [0] Nandkeep notify -> size too large

A block that fails its erase is retired and stepped over. A block that fails to program is
retired and the write fails; the same write then goes around it.

  $ nk_device 128 weakblocks=681:0
  $ nandkeep write two.bin 5500000 100000
  find a bad block (no-eol)
  $ nk_erased; nk_bad
  680-681 681-687
  681
  $ nk_device 128 weakpages=43585:0
  $ nandkeep write two.bin 5500000 100000
  [255]
  $ nandkeep write two.bin 5500000 100000
  $ nk_erased; nk_bad
  680-687 681 680 682-687
  681

A bit flipped after the write: with 1-bit ECC the comparison retires the block and the file is
written around it; with 4-bit BCH the correction is ignored and nothing is erased, but five bits
in one step (uncorrectable) retire the block.

  $ for g in 128 256; do nk_device $g && nandkeep write two.bin 5500000 100000 && nk_flip 0x5520800 1 &&
  > nandkeep write two.bin 5500000 100000 && echo "$g: $(nk_erased), bad: [$(nk_bad)]"; done
  128: 680-687 681 680 682-687, bad: [681]
  256: 680-687, bad: []
  $ nk_erased >/dev/null; nk_flip 0x5500800 5 && nandkeep write two.bin 5500000 100000 && nk_erased && nk_bad
  680-687
  680

upgradeFW on a chip whose block 100 (in kernel 1) is bad: every item byte for byte, each sub-image
at the 128 KiB boundary after its image (one block further behind kernel 1), backups first, then
flashstatus 1, then the normal copies. Again with the same files: only the two default
configuration records are written anew.

  $ nk_device 128 badblocks=100 && S=A
  $ up && nk_flashstatus && cat calls && rm calls
  1
  cfgvault set flashstatus 1
  $ nk_erased
  1-10 424-679 448-679 96-99 101-167 109-167 24-95 36-95 168-423 192-423
  $ echo $(for f in 20000:boot 300000:kernel 480000:dtb DA0000:dtb 1500000:rootfs 3500000:rootfs; do
  > nk_same 0x${f%:*} "$IN/A.${f#*:}"; done)
  same same same same same same
  $ { nk_dump 0xC00000 0x80000; nk_dump 0xCA0000 $((0x17F0E1 - 0x80000)); } | cmp - "$IN/A.kernel"
  $ for o in 1800004 3800004; do nk_dump 0x$o "$(wc -c <"$IN/A.defconf")" | cmp - "$IN/A.defconf"; done
  $ nandkeep checkdefconf
  $ up && cat calls && rm calls
  cfgvault set flashstatus 1
  $ nk_erased
  448-679 192-423

Files that would fail a step are refused before anything is erased: the step's line after the
reason. A rootfs as long as its region, or a kernel header claiming the whole region, leaves no
room for the item behind it; one that ends a block short of it leaves just that block, too little
for a record a byte longer or a DTB of two blocks; a DTB must be a sound image. A boot loader
exactly as long as its region is taken.

  $ hdr() { dd if=/dev/zero of=$1 bs=1 count=0 seek=$(($2)) 2>/dev/null && printf '\047\005\031\126' | dd of=$1 conv=notrunc 2>/dev/null &&
  >   printf "$3" | dd of=$1 bs=1 seek=12 conv=notrunc 2>/dev/null; }
  $ dd if=/dev/zero of=big bs=1 count=0 seek=$((0x1D00000 - 7)) 2>/dev/null && hdr fk 0x900000 '\000\217\377\300' && hdr rf 0x2000000 '\001\377\377\300'
  $ hdr fk1 0x8C0000 '\000\213\377\300' && hdr rf1 0x1FC0000 '\001\373\377\300'
  $ for f in h:40 d:100; do cp "$IN/A.dtb" ${f%:*}.dtb && printf X | dd of=${f%:*}.dtb bs=1 seek=${f#*:} conv=notrunc 2>/dev/null; done; head -c 9000 "$IN/A.dtb" >s.dtb
  $ for a in /proc/self/status '"" "" "" nofile' '"" "" "" rf' '"" "" "" rf1 $IN/over.txt' '"" "" "" "" big' '"" fifo' '"" fk' '"" fk1 two.bin' '"" "" $IN/dtb.raw' '"" "" h.dtb' \
  >   '"" "" d.dtb' '"" "" s.dtb'; do eval say up "$a"; done; nk_erased
  255 Nandkeep notify -> source size does not match its contents update Boot fail
  255 Nandkeep notify -> fopen() update Rootfs 1 fail
  255 Nandkeep notify -> size too large update Default Value 1 fail
  255 Nandkeep notify -> size too large update Default Value 1 fail
  255 Nandkeep notify -> size too large update Default Value 1 fail
  255 Nandkeep notify -> not a regular file update Kernel 1 fail
  255 Nandkeep notify -> size too large update DTB 1 fail
  255 Nandkeep notify -> size too large update DTB 1 fail
  255 Nandkeep notify -> check Magic Num fail update DTB 1 fail
  255 Nandkeep notify -> Header CRC check fail update DTB 1 fail
  255 Nandkeep notify -> DTB CRC check error DTB Data CRC check error 0x3BE527C4 / 0x879080BE update DTB 1 fail
  255 Nandkeep notify -> DTB CRC check error DTB Data CRC check error 0xBC163400 / 0x879080BE update DTB 1 fail
  $ dd if=/dev/zero of=b0 bs=1 count=0 seek=$((0x140000)) 2>/dev/null && up b0 && rm calls && nk_erased
  1-10 448-679 192-423

The single-item updates: the boot loader, the bootstrap (one block at most), the DTB behind both
kernel copies (backup first). A missing file is refused before anything is erased, and so is a
DTB one byte longer than the room behind kernel 1 (0x760000: its region's end less the DTB offset).

  $ nandkeep updateBoot "$IN/B.boot" && nk_same 0x20000 "$IN/B.boot"
  same
  $ say nandkeep updateBst two.bin
  255 Nandkeep notify -> size too large
  $ nandkeep updateBst one.bin && nk_same 0 one.bin
  same
  $ say nandkeep updateDTB "$IN/dtb.raw"
  255 Nandkeep notify -> check Magic Num fail update DTB 1 fail
  $ say nandkeep updateDTB "$IN/long.dtb"
  255 Nandkeep notify -> size too large update DTB 1 fail
  $ nandkeep updateDTB "$IN/B.dtb" && echo $(nk_same 0xDA0000 "$IN/B.dtb"; nk_same 0x480000 "$IN/B.dtb")
  same same
  $ for f in updateBoot updateBst updateDTB; do o=$(nandkeep $f missing); echo $f $? $o; done; nk_erased
  updateBoot 255 Nandkeep notify -> fopen()
  updateBst 255 Nandkeep notify -> fopen()
  updateDTB 255 Nandkeep notify -> fopen() update DTB 1 fail
  1-10 0 109-167 36-95

A kernel file that is not an image is written to kernel 1, whose check then fails: the normal
copies and flashstatus are not touched.

  $ say up "" "$IN/A.boot"
  255 Nandkeep notify -> check Magic Num fail get DTB 1 offset fail
  $ nk_erased; echo $(nk_same 0x300000 "$IN/A.kernel"; nk_same 0xC00000 "$IN/A.boot"); [ ! -f calls ]
  1-10 448-679 96-99 101-167
  same same

The sources are read again for the normal copies: one that changed while the flashstatus command ran
(here they grow, or the kernel shrinks) is not written whole, and a record written from it gets no
checksum word.

  $ cp "$IN/A.kernel" k && cp "$IN/A.defconf" d && echo 'echo x >>k; echo x >>d' >hook
  $ say up "" k; say up "" "" "" "" d; rm hook calls; nk_erased; nandkeep checkdefconf
  255 Nandkeep notify -> source changed while it was written update Kernel 0 fail
  255 Nandkeep notify -> source changed while it was written update Default Value 0 fail
  448-679 96-99 101-167 109-167 24-95 448-679 36-95 192-423
  check Default Value 0 fail
  [255]
  $ cp "$IN/B.kernel" k && echo 'head -c 100000 k >k.part; cat k.part >k' >hook && say up "" k; rm hook calls; nk_erased
  255 Nandkeep notify -> source changed while it was written update Kernel 0 fail
  448-679 96-99 101-167 109-167 24-95

A kernel as small as a DTB: its DTB goes to the next block.

  $ up "" "$IN/B.dtb" && cat calls && echo $(nk_same 0xC20000 "$IN/A.dtb"; nk_same 0x320000 "$IN/A.dtb")
  cfgvault set flashstatus 1
  same same

An upgrade whose standard output reader has gone: the notify of a block that fails its erase
meets a closed pipe; the loss is logged and the upgrade runs to its end.

  $ nk_device 128 weakblocks=30:0
  $ (sleep 1; up; echo $? >status) | :
  $ cat status; nk_syslog; nk_bad
  0
  user.err nandkeep: Lost connection while upgrading firmware!
  30
  $ nk_erased
  1-10 424-679 448-679 96-167 108-167 24-30 30-95 37-95 168-423 192-423

What the upgrade prints while it writes the backups reaches its standard output before what the
flashstatus command prints there.

  $ nk_device 128 weakblocks=430:0 && echo 'echo command' >hook && up && rm hook calls
  find a bad blockcommand

The device lock. Set B is on the chip; an upgrade to A is held in its flashstatus command (backups
written, normal copies not yet): a recovery started then waits for it, says so once, and finds
nothing to do afterwards; the chip saw the upgrade's erases only.

  $ nk_device 128 && S=B && up && S=A && nk_erased >/dev/null && rm calls
  $ echo ': >reached; i=0; while [ ! -f go ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done' >hook
  $ (up; echo "upgrade $?") >first.out 2>&1 & i=0; while [ ! -f reached ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
  $ (nandkeep systemRecovery 3; echo "recovery $?") >second.out 2>&1 &
  $ i=0; while [ ! -s second.out ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; touch go; wait
  $ cat first.out second.out calls && rm calls
  upgrade 0
  nandkeep: waiting for another nandkeep to finish
  recovered image
  recovery 0
  cfgvault set flashstatus 1
  $ nk_erased
  1-10 424-679 448-679 96-167 108-167 24-95 36-95 168-423 192-423

What can be decided before the device is locked is answered at once, also while another command
holds the device: the usage text, a refused range, a source that cannot be stored (a file of a
terabyte is refused from its size, without being read).

  $ dd if=/dev/zero of=huge bs=1 count=0 seek=1099511627776 2>/dev/null && rm -f reached go
  $ (up; echo "upgrade $?") >first.out 2>&1 & i=0; while [ ! -f reached ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
  $ for c in "systemRecovery 2" "systemRecovery zz" "write $IN/five.txt 1000 20000" "eccStatus 0 100000001" \
  >   "writetempconf /proc/self/status" "updateBoot huge" "write huge 0 20000" "lifeCycleTest 8000001 1"; do
  >   timeout 20 nandkeep $c >out 2>err; echo "$? $(grep -c waiting err) $(grep notify out)"; done
  0 0 
  0 0 
  255 0  Nandkeep notify -> offset is not a multiple of the erase block
  255 0  Nandkeep notify -> range runs past 4 GiB
  255 0  Nandkeep notify -> source size does not match its contents
  255 0  Nandkeep notify -> size too large
  255 0  Nandkeep notify -> size too large
  255 0  Nandkeep notify -> length runs past the device end

Descriptors handed down in NANDKEEP_LOCK_FD that do not hold the lock (the lock's file opened
anew, with a pipe posing as the parent's window) are not taken over: the command waits (the three
tried side by side). Once the device is free it locks the device with its own descriptor, and
leaves the caller's unlocked. A handed-down descriptor of another file (standard output, here a
file of its own) is left open as it was.

  $ exec 9<"$NK_LOCK"; p=; for fd in 9 9,0 1,0; do { sleep 3 | NANDKEEP_LOCK_FD=$fd timeout 2 nandkeep flashfs2IsChange 2>&1 || echo stopped; } >held.$fd 2>/dev/null & p="$p $!"; done; wait $p; cat held.9 held.9,0 held.1,0
  nandkeep: waiting for another nandkeep to finish
  stopped
  nandkeep: waiting for another nandkeep to finish
  stopped
  nandkeep: waiting for another nandkeep to finish
  stopped
  $ touch go; wait; cat first.out; rm calls; nk_erased >/dev/null
  upgrade 0
  $ for fd in 9 9,0; do sleep 1 | NANDKEEP_LOCK_FD=$fd nandkeep flashfs2IsChange && timeout 2 nandkeep flashfs2IsChange && echo free; done; exec 9<&-
  free
  free
  $ nandkeep writetempconf "$IN/five.txt" && NANDKEEP_LOCK_FD=1,0 nandkeep readtempconf /proc/self/fd/1 </dev/null >out && cmp out "$IN/five.txt" && nk_erased
  1007 1006

The flashstatus command may run nandkeep itself, here with the lock handed down on descriptor 0:
it works under the upgrade's lock at once (one that waited for the lock instead would never get
it: it is stopped after a minute).

  $ S=B && echo 'printf "flashstatus=%s\n" "$3" >fs.conf; l=${NANDKEEP_LOCK_FD%,*}; NANDKEEP_LOCK_FD=0,${NANDKEEP_LOCK_FD#*,} python3 -c "import os, sys; os.dup2($l, 0); os.execvp(sys.argv[1], sys.argv[1:])" timeout 60 nandkeep writetempconf fs.conf; echo "nested $?" >>calls' >hook
  $ up && cat calls && rm calls && nandkeep readtempconf back.conf && cat back.conf
  cfgvault set flashstatus 1
  nested 0
  flashstatus=1
  $ nk_erased
  1-10 424-679 448-679 96-167 108-167 1007 1006 24-95 36-95 168-423 192-423

A nandkeep that took the lock over hands down its own lock and window only: the flashstatus
command of an upgrade run inside the flashstatus command of another gets no descriptor of the
outer upgrade's window.

  $ echo 'echo "outer window $([ -e /proc/$$/fd/$W ] && echo open || echo closed)" >>calls' >hook2
  $ S=A && echo 'export W=${NANDKEEP_LOCK_FD#*,}; mv hook2 hook; nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" >/dev/null; echo "nested $?" >>calls' >hook
  $ up && cat calls && rm calls hook
  cfgvault set flashstatus 1
  cfgvault set flashstatus 1
  outer window closed
  nested 0

Handed a window that reads as ended (/dev/null here; a pipe whose writer is gone reads so), a
nandkeep the command leaves behind does not take the lock over, though the descriptor it got
holds it: it waits until the upgrade has ended.

  $ S=A && echo '{ NANDKEEP_LOCK_FD=${NANDKEEP_LOCK_FD%,*},0 nandkeep flashfs2IsChange 2>&1; echo "late $?"; } </dev/null >>calls 2>&1 & i=0; until grep -q waiting calls || [ $i -eq 200 ]; do sleep 0.1; i=$((i + 1)); done' >hook
  $ up && i=0; until grep -q late calls || [ $i -eq 300 ]; do sleep 0.1; i=$((i + 1)); done; cat calls && rm calls hook
  cfgvault set flashstatus 1
  nandkeep: waiting for another nandkeep to finish
  late 0

A nandkeep that the flashstatus command leaves running in the background, started while the
command still runs (it stays 2 s), takes the lock over and does its work; the upgrade waits for it
and ends with every copy of the new set.

  $ rm -f hook && S=B && up && rm calls && S=A && nk_erased >/dev/null
  $ echo '{ nandkeep write "$IN/A.rootfs" 5500000 400000; echo "bg $?" >bg.out; } >/dev/null 2>&1 & sleep 2' >hook && up && rm hook calls
  $ i=0; while [ ! -s bg.out ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; cat bg.out
  bg 0
  $ nk_erased >/dev/null; echo $(nk_same 0x5500000 "$IN/A.rootfs"; nk_same 0x300000 "$IN/A.kernel"; nk_same 0x1500000 "$IN/A.rootfs")
  same same same
  $ S=B && up && rm calls && nk_erased >/dev/null

A Ctrl-C that ends the flashstatus command (its shell killed by SIGINT, or a status of 130) ends
the upgrade by SIGINT before a normal copy is written, and a status of 131 by SIGQUIT: the backups
hold A, the normal copies B. Any other signal that ends it (SIGTERM here, sent to the command's
shell, or to the command itself where the shell gave way to it) is a failed command, and the
upgrade goes on.

  $ S=A && for h in 'exit 131' 'kill -INT $PPID $$' 'exit 130'; do echo "$h" >hook; (ulimit -c 0; up) 2>/dev/null; echo $?; done
  131
  130
  130
  $ nk_erased; echo $(nk_same 0x300000 "$IN/B.kernel"; nk_same 0xC00000 "$IN/A.kernel"; nk_same 0x1500000 "$IN/B.rootfs")
  1-10 424-679 448-679 96-167 108-167 448-679 448-679
  same same same
  $ echo '[ "$(cat /proc/$PPID/comm)" = nandkeep ] || kill -TERM $PPID; kill -TERM $$' >hook && up; echo $?; nk_same 0x300000 "$IN/A.kernel"; echo 'exit 130' >hook
  0
  same

A process the command left in the background keeps the lock's descriptor, but not the lock: once
the upgrade has ended by SIGINT, a fresh open of the lock takes it at once.

  $ echo 'sleep 30 >/dev/null 2>&1 & echo $! >sleeper; exit 130' >hook && (up) 2>/dev/null; echo $? $($NK_TRYLOCK; echo $?); kill $(cat sleeper); echo 'exit 130' >hook
  130 0

The upgrade is killed by SIGINT, not ended with status 130, also when it started with SIGINT
ignored (a background job of a script).

  $ busybox time -f %x nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" & wait $!
  Command terminated by signal 2
  0
  [2]

The boot script the package installs, where power comes back after an upgrade was killed. Killed
right after flashstatus was set: the script repairs the normal copies from the backups
(systemRecovery 1), its after-boot entry point sets flashstatus back to 0, and the next boot finds
nothing to repair.

  $ boot() { sh "$NK_BOOT_SCRIPT" "$@"; }; upk() { nandkeep upgradeFW "$IN/$S.boot" "$IN/$S.kernel" "$IN/$S.dtb" "$IN/$S.rootfs" "$IN/$S.defconf" & echo $! >pid; wait $! 2>/dev/null; echo $? $(nk_flashstatus); }
  $ nk_device 128 && rm -f hook calls && S=A && up && rm calls && nk_erased >/dev/null
  $ echo 'kill -9 $(cat pid)' >after && S=B && upk && rm after && nk_erased
  137 1
  1-10 424-679 448-679 96-167 108-167
  $ boot recover && boot booted && boot recover && cat calls && rm calls && nk_syslog | uniq -c | sed 's/^ *//'
  recovered image
  recovered image
  cfgvault set flashstatus 1
  cfgvault get flashstatus
  cfgvault set flashstatus 0
  cfgvault get flashstatus
  4 user.err nandkeep: NANDKEEP ERROR! Compare image fail!
  $ nk_erased; echo $(for f in 300000 C00000; do nk_same 0x$f "$IN/B.kernel"; done; for f in 1500000 3500000; do nk_same 0x$f "$IN/B.rootfs"; done)
  24-95 36-95 168-423 192-423
  same same same same
  $ nk_flashstatus
  0

Killed before flashstatus was set: the backups hold the new set, the normal copies the old one,
and the script (flashstatus 0) brings the backups back to the old set. The boot loader, of which
there is one copy, stays new.

  $ echo 'kill -9 $(cat pid); exit 1' >hook && S=A && upk && rm hook calls
  137 0
  $ nk_erased >/dev/null; boot recover; nk_erased; echo $(nk_same 0xC00000 "$IN/B.kernel"; nk_same 0x20000 "$IN/A.boot")
  recovered image
  96-167 108-167 424-679 448-679
  same same

A flashstatus that cannot be read: the script says so, on standard error and to the system log,
and recovers without a direction. A failing recovery is reported with its status, which the
script ends with.

  $ echo '[ "$1" != get ] || exit 1' >hook && boot recover && rm hook && nk_syslog | uniq -c | sed 's/^ *//'
  nandkeep-boot: cannot read flashstatus (cfgvault get flashstatus); recovering without it
  recovered image
  4 user.err nandkeep: NANDKEEP ERROR! Compare image fail!
  1 user.err nandkeep-boot: cannot read flashstatus (cfgvault get flashstatus); recovering without it
  $ nandkeep write "$IN/A.boot" 300000 900000 && nandkeep write "$IN/A.boot" C00000 900000 && say boot recover; nk_syslog
  254 Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail Nandkeep notify -> check Magic Num fail Nandkeep notify -> check Source mkimg fail recovered image nandkeep-boot: nandkeep systemRecovery 3 ended with status 254
  user.err nandkeep-boot: nandkeep systemRecovery 3 ended with status 254

An upgrade killed outright after its flashstatus command left a nandkeep starting in the
background: that nandkeep drops the dead upgrade's lock descriptor it inherited and does its work
instead of waiting for a lock only it still holds.

  $ echo 'echo $$ >bgpid; sleep 1; exec nandkeep eccStatus 0 20000 >ecc.out 2>&1' >bg.sh && echo 'sh bg.sh >/dev/null 2>&1 &' >hook && echo 'kill -9 $(cat pid)' >after && S=A && upk && rm hook after calls
  137 1
  $ i=0; while [ ! -s ecc.out ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done; kill $(cat bgpid) 2>/dev/null; cut -c1-11 ecc.out | head -n 1
  Current ECC

A block that can neither be erased nor marked bad (its first page, which takes the marker, fails)
fails the update of its region, whichever region it lies in, and the upgrade stops there.

  $ S=A && for b in 2 30 100 200 430; do nk_device 128 weakblocks=$b:0 weakpages=$((b * 64)):0 && say up; done
  255 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase sector fail update Boot fail
  255 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase sector fail update Kernel 0 fail
  255 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase sector fail update Kernel 1 fail
  255 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase sector fail update Rootfs 0 fail
  255 find a bad block Nandkeep notify -> set bad block fail Nandkeep notify -> erase sector fail update Rootfs 1 fail

A file that begins with what the region holds but runs past its last good block, by a block or by
one byte, is not taken for already written: the write fails for want of space.

  $ nk_device 128 badblocks=681 && nandkeep write one.bin 5500000 20000 && head -c 131073 two.bin >byte.bin &&
  > for f in two.bin byte.bin; do say nandkeep write $f 5500000 40000; done
  255 Nandkeep notify -> write fail: Not enought flash space
  255 Nandkeep notify -> write fail: Not enought flash space

A flashstatus command ended by Ctrl-C ends the upgrade by SIGINT (the status the parent reads is
-2, the signal, not 130) even when the parent handed SIGINT down blocked.

  $ mkdir -p int && printf '#!/bin/sh\nexit 130\n' >int/cfgvault && chmod +x int/cfgvault
  $ nk_device 128 && (PATH=$PWD/int:$PATH && nk_int_blocked nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf")
  -2

A nandkeep the flashstatus command runs takes the lock over and never unlocks it: once it has
ended, the device is still locked for the upgrade (a fresh open of the lock cannot take it).

  $ mkdir -p held && printf '#!/bin/sh\nnandkeep checktempconf >/dev/null; %s; echo $? >>held.txt\n' "$NK_TRYLOCK" >held/ovenctl && chmod +x held/ovenctl
  $ nk_device 128 && PATH=$PWD/held:$PATH nandkeep upgradeFW "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf" && cat held.txt
  1
