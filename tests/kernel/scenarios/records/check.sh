# Where each store keeps its records: two tempconf copies in the top blocks of flashfs2 below
# NFDI, tempdata at the start of flashfs2, two NFDI copies split over NFDI's good blocks outside
# the bad-block table.
if [ "$NK_GEOMETRY" = 128 ]; then
    iConf1=0x7DE0000 iConf2=0x7DC0000 iData=0x5D00000 iNfdi1=0x7E00000
    iNfdi2=0x7EC0000 iNfdiCandidates=12 iTable=$((0x8000000 - 4 * 0x20000))
else
    iConf1=0xF7E0000 iConf2=0xF7C0000 iData=0x6500000 iNfdi1=0xF800000
    iNfdi2=0xF8C0000 iNfdiCandidates=12 iTable=$((0x10000000 - 52 * 0x20000))
fi
sNotify=$'\n Nandkeep notify -> size check fail\n'

# Erased flash holds no record: the checks fail silently, the reads say so for every
# candidate they look at (readtempconf gives up after three).
for sKind in tempconf tempdata NFDI; do
    nk_expect_status "check$sKind.empty" 255
    nk_expect_out_empty "check$sKind.empty"
    nk_expect_status "read$sKind.empty" 255
    nk_expect_err_empty "read$sKind.empty"
done
nk_notify_times() {
    local i
    for ((i = 0; i < $1; i++)); do
        printf '%s' "$sNotify"
    done
}
nk_expect_out readtempconf.empty < <(nk_notify_times 3)
nk_expect_out readtempdata.empty < <(nk_notify_times 1)
nk_expect_out readNFDI.empty < <(nk_notify_times "$iNfdiCandidates")

for sTag in writetempconf checktempconf readtempconf writetempdata checktempdata readtempdata \
    writeNFDI checkNFDI readNFDI; do
    nk_expect_status "$sTag" 0
    nk_expect_out_empty "$sTag"
    nk_expect_err_empty "$sTag"
done
nk_expect_same "$NK_IN/tempconf.txt" tempconf.back "tempconf read back"
nk_expect_same "$NK_IN/tempdata.bin" tempdata.back "tempdata read back"
nk_expect_same "$NK_IN/nfdi.bin" NFDI.back "NFDI read back"

sRefused=$'\n Nandkeep notify -> destination is the flash device itself\n/dev/mtd0'
nk_expect_status readtempdata.mtd0 255
nk_expect_out_printf readtempdata.mtd0 '%s' "$sRefused"
nk_expect_status badBlockRead.mtd0 255
nk_expect_out_printf badBlockRead.mtd0 '%s' "$sRefused"
nk_expect_same <(nk_ff $((0x20000))) block0.dump "block 0 after the refused copies"

sExpect=$(mktemp -d)
nk_config_record "$NK_IN/tempconf.txt" >"$sExpect/tempconf.rec"
nk_config_record "$NK_IN/tempdata.bin" >"$sExpect/tempdata.rec"
nk_config_record "$NK_IN/nfdi.bin" >"$sExpect/nfdi.rec"
nk_region "$sExpect/tempconf" $((0x20000)) "$sExpect/tempconf.rec"
nk_region "$sExpect/tempdata" $((0x40000)) "$sExpect/tempdata.rec"
nk_region "$sExpect/nfdi" $((0x20000)) "$sExpect/nfdi.rec"
nk_expect_same "$sExpect/tempconf" tempconf1.dump "tempconf copy 1"
nk_expect_same "$sExpect/tempconf" tempconf2.dump "tempconf copy 2"
nk_expect_same "$sExpect/tempdata" tempdata.dump "tempdata"
nk_expect_same "$sExpect/nfdi" nfdi1.dump "NFDI copy 1"
nk_expect_same "$sExpect/nfdi" nfdi2.dump "NFDI copy 2"
rm -rf "$sExpect"

# Each copy's area is erased whole before it is written; tempdata's area reaches up to the
# lower tempconf copy, NFDI copy 2's up to the bad-block table: the table's blocks at the end of
# the device are never erased. Checks and reads erase nothing.
printf '%s\n' $((iConf1 / 0x20000)) $((iConf2 / 0x20000)) | nk_expect_erase_list writetempconf
nk_blocks "$iData" "$iConf2" | nk_expect_erase_list writetempdata
{
    nk_blocks "$iNfdi1" "$iNfdi2"
    nk_blocks "$iNfdi2" "$iTable"
} | nk_expect_erase_list writeNFDI
for sTag in checktempconf readtempconf checktempdata readtempdata checkNFDI readNFDI \
    readtempdata.mtd0 badBlockRead.mtd0; do
    nk_expect_erase_list "$sTag" </dev/null
done
nk_expect_no_syslog
