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

On a terminal (here a pseudo-terminal that script gives the command), a long command shows one
line of progress on standard error, rewritten in place and cleared at the end: the first figure of
every step, later ones at most five times a second. Standard output is the same as without a
terminal; NANDKEEP_PROGRESS=off shows nothing.

  $ set -- "$IN/A.boot" "$IN/A.kernel" "$IN/A.dtb" "$IN/A.rootfs" "$IN/A.defconf"; e=$(printf '\033')
  $ on() { script -qefc "$*" /dev/null </dev/null >tty.raw; tr '\r' '\n' <tty.raw | sed -n "s/^$e\[K\(.\)/\1/p" >tty.err; }; steps() { awk '{ k = $0; sub(/: [^:]*$/, "", k) } !seen[k]++' tty.err; }
  $ nk_device 128 && on nandkeep upgradeFW "$@" \>tty.out && steps && tail -c 4 tty.raw | od -An -tx1
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
  $ nandkeep write "$IN/five.txt" 340000 20000 && on nandkeep systemRecovery \>/dev/null && steps
  systemRecovery: kernel pair: checking 8 %
  systemRecovery: rootfs pair: checking 4 %
  $ on NANDKEEP_PROGRESS=off nandkeep eraseAll && cat tty.err
  $ on nandkeep eraseAll \>/dev/null && steps && on nandkeep updateBoot "$IN/B.boot" && steps
  eraseAll: erasing 0 %
  updateBoot: erasing 0 %
  $ nk_device 128 overridesize=4 && on nandkeep flashVerify \>/dev/null && steps
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
  $ on timeout 0.3 nandkeep badBlockManagement \>/dev/null; steps | head -n 2; tail -c 4 tty.raw | od -An -tx1
  badBlockManagement: pass 1, pattern 0xFF: block 1 of 16
  badBlockManagement: pass 1, pattern 0x00: block 1 of 16
   0d 1b 5b 4b

Output left on the terminal's line stays in front of the figure while it leaves room for one (half
the line): after one or two bad blocks found in a row ("find a bad block", 16 characters each) the
figure follows them; after a third there is no room, and none is drawn.

  $ nk_device 128 weakblocks=100:0,101:0,102:0 && on nandkeep eraseAll && awk '/^find/ { t = $0; sub(/ eraseAll: .*/, "", t); if (!(t in f)) o[++n] = t; f[t] = f[t] || /eraseAll: / } END { for (i = 1; i <= n; i++) print o[i], f[o[i]] ? "+ figure" : "alone" }' tty.err
  find a bad block + figure
  find a bad blockfind a bad block + figure
  find a bad blockfind a bad blockfind a bad block alone

While the line shows, SIGHUP, SIGINT and SIGTERM are caught to clear it, but a signal the command
was started with ignored stays ignored: a background job of a script (SIGINT ignored) and a
foreground command, as /proc shows their masks of those three (HUP 1, INT 2, TERM 0x4000) once
the line shows.

  $ echo 'm() { s=$(sed -n "s/^Sig$2:[[:space:]]*//p" /proc/$1/status); echo $((0x${s#????????????} & 0x4003)); }' >sig.sh
  $ echo 'look() { i=0; while [ $(m $1 Cgt) = 0 ] && [ $i -lt 50 ]; do sleep 0.2; i=$((i + 1)); done; echo "$2: caught $(m $1 Cgt), ignored $(m $1 Ign)" >>sig.out; kill $1; }' >>sig.sh
  $ on ". ./sig.sh; nandkeep badBlockManagement >/dev/null & look \$! background; (look \$\$ foreground) & exec nandkeep badBlockManagement >/dev/null"; cat sig.out
  background: caught 16385, ignored 2
  foreground: caught 16387, ignored 0

Standard output on the terminal too: the progress line is cleared before each line the tool
prints and drawn behind a line it leaves unended ("find a bad block"), so that at the end the
terminal shows what the same command prints without one. Each command runs twice from the same
device state, once plainly and once on the terminal (shown: the command, whether it drew
progress, and whether the screen is the plain text). The repair runs on a device whose backup
kernel is broken; the last write runs over a block that fails its erase and a later one that does
not hold its chunk, whose notify line ends the unended one.

  $ screen() { awk -v e="$e" '{ s = $0; l = ""; c = 0; while (s != "") { x = substr(s, 1, 1); s = substr(s, 2)
  >   if (x == "\r") c = 0; else if (x == e && substr(s, 1, 2) == "[K") { l = substr(l, 1, c); s = substr(s, 3) } else { l = substr(l, 1, c) x substr(l, c + 2); c++ } }
  >   if (l == "") b++; else { for (; b > 0; b--) print ""; print l } }' "$1"; }
  $ shows() { eval "$1" && nandkeep $2 >plain.out 2>&1; eval "$1" && on nandkeep $2; grep -q "$e\[K${2%% *}: " tty.raw && d=drawn || d=undrawn
  >   screen tty.raw >tty.screen; screen plain.out | cmp -s - tty.screen && echo "${2%% *} $d same" || echo "${2%% *} $d differs"; }
  $ for c in "unstableBitsTestWrite 55" flashVerify "lifeCycleTest 40000 1"; do shows "nk_device 128 overridesize=4" "$c"; done
  unstableBitsTestWrite drawn same
  flashVerify drawn same
  lifeCycleTest drawn same
  $ shows "nk_device 128 && nandkeep upgradeFW $* && nandkeep write $IN/five.txt C00000 20000" "systemRecovery 1"
  systemRecovery drawn same
  $ shows "nk_device 128 weakblocks=682:0 gravepages=$((684 * 64)):0" "write $IN/A.rootfs 5500000 400000" && grep -c "find a bad block write: " tty.raw
  write drawn same
  1

A figure stands a space behind the line the tool leaves unended, and at the start of the line
once a printed line has ended, however long the unended one was. Here a block of the normal kernel
fails its erase in the repair, and the notify line of the broken backup rootfs ends the line; the
second pass repairs the rootfs the other way (shown: what stands in front of the repair's figures).

  $ shows "nk_device 128 weakblocks=27:1 && nandkeep upgradeFW $* && nandkeep write $IN/five.txt 320000 20000 && nandkeep write $IN/five.txt 3520000 20000" "systemRecovery 1"
  systemRecovery drawn same
  $ tr '\r' '\n' <tty.raw | sed -n "s/^$e\[K\(.*\)systemRecovery: .*/[\1]/p" | uniq
  []
  [find a bad block ]
  []

With standard output in a file, nothing of it shows on the terminal: the figure is not drawn
behind the line the tool leaves unended there.

  $ nk_device 128 weakblocks=682:0 && on nandkeep write "$IN/A.rootfs" 5500000 400000 \>w.out && grep -c 'find a bad block' tty.raw w.out
  tty.raw:0
  w.out:1

Start-up over an edited partition table: every failure ends the run with status 255 before the
command line is read, so even info and the usage text are refused.

  $ nk_device 128 && P=$(nk_table) && cp "$P" proc_mtd.orig

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

A last entry cut short after its size is a partition without erase size or name: the commands
that do not use it work.

  $ sed '$s/ [^ ]* [^ ]*$//' proc_mtd.orig >"$P"; nandkeep writetempconf "$IN/five.txt" && nk_erased
  1007 1006

A device token longer than the record holds is cut at the record's end (63 bytes of path): that
node cannot be opened, and the message names the path as cut.

  $ sed "s/^mtd3:/mtd3$(printf '%060d' 0 | tr 0 n):/" proc_mtd.orig >"$P"; nandkeep checktempconf; echo " $?"; cp proc_mtd.orig "$P"
  
   Nandkeep notify -> open(), please check mtd node device
  /dev/mtd3nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn 255
