# The usage text, byte for byte, on standard error; the version banner on standard output.
sUsage=$(mktemp)
cat >"$sUsage" <<'USAGE'
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
       	Basic pattern: 0x55 (0101), 0xAA (1010), 0x00 (0000), 0xFF (1111), rand
       flashfs2IsChange
       erase <Offset> <Len>
       eraseAll
       info
USAGE
[ "$(wc -c <"$sUsage")" -eq 1247 ] && [ "$(wc -l <"$sUsage")" -eq 38 ] ||
    nk_fail "the expected usage text itself is not 38 lines of 1247 bytes"

for sTag in none unknown info-extra erase-alone erase-extra eraseall-extra write-short \
    upgrade-four recovery-status-2 case-differs; do
    nk_expect_status "$sTag" 0
    nk_expect_same "$sUsage" "$sTag.err" "$sTag usage text"
    # The banner: the version line, then one line naming the maker.
    [ "$(head -n1 "$sTag.out")" = "Nandkeep version: 1.0.1.26" ] ||
        nk_fail "$sTag: banner's first line is '$(head -n1 "$sTag.out")'"
    [ "$(wc -l <"$sTag.out")" -eq 2 ] && [ -n "$(sed -n 2p "$sTag.out")" ] &&
        [ "$(tail -c1 "$sTag.out" | od -An -c | tr -d ' ')" = '\n' ] ||
        nk_fail "$sTag: the banner is not two newline-ended lines"
    nk_expect_same none.out "$sTag.out" "$sTag banner"
done
rm -f "$sUsage"
nk_expect_erases 0
nk_expect_no_syslog
