# The behaviour of the kernel's MTD character device over nandsim that the simulator copies.
iStrength=1
[ "$NK_GEOMETRY" = 256 ] && iStrength=4
nk_expect_status facts 0
nk_expect_err_empty facts
nk_expect_out facts <<FACTS
info.writesize 2048
info.erasesize 131072
info.oobsize 64
ecc.start 0 0 1 0
read.erased 2048
read.erased.all_ff 1
read.short 100
read.unaligned 2048
read.two_pages 4096
read.position_after 4096
write.short EINVAL
write.unaligned EINVAL
write.subpage 512
write.first 2048
write.again 2048
write.again.stored_and 1
write.two_pages 4096
write.raw_without_oob EIO
lseek.size 0
read.at_end 0
write.at_end ENOSPC
lseek.past_end EINVAL
write.across_end 2048
read.across_end 2048
erase.unaligned_start EINVAL
erase.unaligned_length EINVAL
erase.past_end EINVAL
erase.zero_length 0
erase.bad EIO
erase.across_bad EIO
erase.across_bad.before_erased 1
erase.across_bad.after_erased 0
erase.good 0
getbad.good 0
getbad.bad 1
getbad.bad_unaligned 1
getbad.past_end EINVAL
read.bad 2048
write.bad 2048
setbad 0
setbad.getbad 1
setbad.data_erased 1
setbad.badblocks +1
setbad.erase EIO
setbad.again 0
setbad.again.badblocks +1
flip.correctable.read 2048
flip.correctable.data_ok 1
flip.correctable.corrected +$iStrength
flip.correctable.failed +0
flip.correctable.reread.corrected +$iStrength
flip.correctable.reread.failed +0
flip.uncorrectable.read 2048
flip.uncorrectable.data_ok 0
flip.uncorrectable.corrected +0
flip.uncorrectable.failed +1
flip.uncorrectable.reread.corrected +0
flip.uncorrectable.reread.failed +1
flip.partition.read 2048
flip.partition.data_ok 1
flip.partition.corrected +1
flip.partition.failed +0
flip.partition.reread.corrected +1
flip.partition.reread.failed +0
flip.partition.whole_chip_counter +0 +0
flip.partition.partition_counter +2 +0
erase.flipped 0
erase.flipped.read_after +0 +0 all_ff 1
FACTS
# Erases the driver performed: block 4 before the bad block 5 stopped the range, block 6,
# block 9 erased by the kernel itself before it wrote the bad-block marker, block 11.
nk_expect_erased_blocks 4 6 9 11
