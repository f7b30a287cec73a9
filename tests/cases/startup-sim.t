Start-up over an edited /proc/mtd: every failure ends the run with status 255 before the
command line is read, so even info and the usage text are refused. Last, the progress line a
person sees on a terminal (the real-kernel guest has no pseudo-terminal).

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

On a terminal, a long command shows one line of progress on standard error, rewritten in place
and cleared at the end: the first figure of every step, later ones at most five times a second.
Standard output is the same as without a terminal; NANDKEEP_PROGRESS=off shows nothing.

  $ rmdir "$NANDKEEP_SIM_DIR/lock"; cp proc_mtd.orig "$P" && set -- "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"
  $ on() { script -qefc "$*" /dev/null </dev/null >tty.raw; tr '\r' '\n' <tty.raw | sed -n 's/^\x1b\[K\(.\)/\1/p' >tty.err; }; steps() { awk '{ k = $0; sub(/: [^:]*$/, "", k) } !seen[k]++' tty.err; }
  $ on nandkeep upgradeFW "$@" \>tty.out && steps && tail -c 4 tty.raw | od -An -tx1
  upgradeFW: boot: erasing 0 %
  upgradeFW: rootfs 1: erasing 0 %
  upgradeFW: default values 1: erasing 0 %
  upgradeFW: kernel 1: erasing 0 %
  upgradeFW: DTB 1: erasing 0 %
  upgradeFW: kernel 0: erasing 0 %
  upgradeFW: DTB 0: erasing 0 %
  upgradeFW: rootfs 0: erasing 0 %
  upgradeFW: default values 0: erasing 0 %
   0d 1b 5b 4b
  $ nk_device 128 && nandkeep upgradeFW "$@" 2>&1 >plain.out | wc -c && cmp plain.out tty.out
  0
  $ nk_simctl load "$IN/five.txt" 0x340000 && on nandkeep systemRecovery \>/dev/null && steps
  systemRecovery: kernel pair: checking 8 %
  systemRecovery: rootfs pair: checking 4 %
  $ on NANDKEEP_PROGRESS=off nandkeep eraseAll && cat tty.err
  $ on nandkeep eraseAll \>/dev/null && steps && on nandkeep updateBoot "$IN/B.boot" && steps
  eraseAll: erasing 0 %
  updateBoot: erasing 0 %
  $ nk_simctl create --blocks 16 >/dev/null && on nandkeep flashVerify \>/dev/null && steps
  flashVerify: reference: erasing 0 %
  flashVerify: first check: reading 6 %
  flashVerify: patterns: block 1 of 16
  $ on nandkeep lifeCycleTest 40000 1 \>/dev/null && steps
  lifeCycleTest: cycle 1 of 2: erase 1 of 1001
  lifeCycleTest: cycle 2 of 2: erase 1 of 1001
  $ on nandkeep unstableBitsTestWrite 55 \>/dev/null && steps
  unstableBitsTestWrite: erasing 0 %
  unstableBitsTestWrite: write: block 1 of 16
  unstableBitsTestWrite: check: block 1 of 16
  $ on timeout 0.3 nandkeep badBlockManagement \>/dev/null; head -n 2 tty.err; tail -c 4 tty.raw | od -An -tx1
  badBlockManagement: pass 1, pattern 0xFF: block 1 of 16
  badBlockManagement: pass 1, pattern 0x00: block 1 of 16
   0d 1b 5b 4b

Standard output on the terminal too: the progress line is cleared before each line the tool
prints and drawn behind a line it leaves unended ("find a bad block"), so that at the end the
terminal shows what the same command prints without one (shown: the command, whether it drew
progress, and whether the screen is that text). The repair runs on a device whose backup kernel
is broken, the last writes over a block that fails its erase and one that loses what is programmed.

  $ screen() { awk -v e="$(printf '\033')" '{ s = $0; l = ""; c = 0; while (s != "") { x = substr(s, 1, 1); s = substr(s, 2)
  >   if (x == "\r") c = 0; else if (x == e && substr(s, 1, 2) == "[K") { l = substr(l, 1, c); s = substr(s, 3) } else { l = substr(l, 1, c) x substr(l, c + 2); c++ } }
  >   if (l == "") b++; else { for (; b > 0; b--) print ""; print l } }' "$1"; }
  $ shows() { rm -rf dev.copy && cp -a "$NANDKEEP_SIM_DIR" dev.copy && nandkeep "$@" >plain.out 2>&1; rm -rf "$NANDKEEP_SIM_DIR" && mv dev.copy "$NANDKEEP_SIM_DIR"
  >   on nandkeep "$@"; grep -q "$(printf '\033')\[K$1: " tty.raw && d=drawn || d=undrawn; screen tty.raw >tty.screen; screen plain.out | cmp -s - tty.screen && echo "$1 $d same" || echo "$1 $d differs"; }
  $ for c in "unstableBitsTestWrite 55" flashVerify "lifeCycleTest 40000 1" "write $IN/A.rootfs 5500000 400000"; do shows $c; done
  unstableBitsTestWrite drawn same
  flashVerify drawn same
  lifeCycleTest drawn same
  write drawn same
  $ nk_device 128 && nandkeep upgradeFW "$@" && nandkeep write "$IN/five.txt" C00000 20000 && shows systemRecovery 1
  systemRecovery drawn same
  $ nk_simctl fault add weak-block 682 0 && shows write "$IN/A.rootfs" 5500000 400000 && grep -c 'find a bad block write: ' tty.raw
  write drawn same
  1
  $ nk_simctl fault add program-lost 683 && shows write "$IN/A.rootfs" 5500000 400000
  write drawn same
