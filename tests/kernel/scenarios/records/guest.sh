# The record stores on erased flash, then written, checked and read back, and dumped.
#@ geometry 128 256
for sKind in tempconf tempdata NFDI; do
    nk_run "check$sKind.empty" nandkeep "check$sKind"
    nk_run "read$sKind.empty" nandkeep "read$sKind" "$NK_OUT/$sKind.empty"
done
for sKind in tempconf tempdata NFDI; do
    sIn=$NK_IN/$(echo "$sKind" | tr 'A-Z' 'a-z')
    case $sKind in
    tempconf) sIn=$sIn.txt ;;
    *) sIn=$sIn.bin ;;
    esac
    nk_run "write$sKind" nandkeep "write$sKind" "$sIn"
    nk_run "check$sKind" nandkeep "check$sKind"
    nk_run "read$sKind" nandkeep "read$sKind" "$NK_OUT/$sKind.back"
done
# The whole-device node as destination: refused before the copy is programmed over the
# bootstrap at offset 0.
nk_run readtempdata.mtd0 nandkeep readtempdata /dev/mtd0
nk_run badBlockRead.mtd0 nandkeep badBlockRead /dev/mtd0 0 20000
nk_dump block0.dump 0 0x20000 padbad
if [ "$NK_GEOMETRY" = 128 ]; then
    nk_dump tempconf1.dump 0x7DE0000 0x20000 padbad
    nk_dump tempconf2.dump 0x7DC0000 0x20000 padbad
    nk_dump tempdata.dump 0x5D00000 0x40000 padbad
    nk_dump nfdi1.dump 0x7E00000 0x20000 padbad
    nk_dump nfdi2.dump 0x7EC0000 0x20000 padbad
else
    nk_dump tempconf1.dump 0xF7E0000 0x20000 padbad
    nk_dump tempconf2.dump 0xF7C0000 0x20000 padbad
    nk_dump tempdata.dump 0x6500000 0x40000 padbad
    nk_dump nfdi1.dump 0xF800000 0x20000 padbad
    nk_dump nfdi2.dump 0xF8C0000 0x20000 padbad
fi
