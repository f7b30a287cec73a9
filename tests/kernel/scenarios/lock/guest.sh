# The device lock. Two at once: systemRecovery started while an upgrade onto erased flash waits
# in its flashstatus command (backups written, normal copies not yet) waits for the upgrade and
# then finds nothing to repair. Nested: the flashstatus command runs nandkeep itself, which works
# under the upgrade's lock instead of waiting for it.
#@ geometry 128
#@ timeout 300
mkdir bin
cp "$NK_IN/cfgvault" bin/
chmod 755 bin/cfgvault
export PATH="$PWD/bin:$PATH"
nk_firmware() {
    nk_run "$1" nandkeep upgradeFW "$NK_IN/boot.bin" "$NK_IN/kernel.img" "$NK_IN/dtb.img" \
        "$NK_IN/rootfs.img" "$NK_IN/defconf.txt"
}
nk_wait_for() {
    local i=0
    while ! eval "$1" && [ "$i" -lt 300 ]; do
        sleep 0.1
        i=$((i + 1))
    done
}

iBefore=$(nk_erased_blocks | wc -l)
: >hold
nk_firmware held &
iHeld=$!
nk_wait_for '[ -e reached ]'
iStatus=0
nandkeep systemRecovery 3 >"$NK_OUT/second.out" 2>"$NK_OUT/second.err" </dev/null &
iSecond=$!
nk_wait_for '[ -s "$NK_OUT/second.err" ]'
: >go
wait "$iHeld"
wait "$iSecond" || iStatus=$?
echo "$iStatus" >"$NK_OUT/second.status"
nk_erased_blocks | tail -n +"$((iBefore + 1))" >"$NK_OUT/both.erases"
nk_dump kernel0.dump 0x300000 0x900000 padbad
nk_dump rootfs0.dump 0x1500000 0x2000000 padbad

: >nest
nk_firmware nested
nk_run readback nandkeep readtempconf "$PWD/back.conf"
for sFile in nodes.txt lockfd.txt nested.status nested.out nested.err back.conf; do
    nk_keep "$sFile"
done
