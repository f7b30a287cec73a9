# The kernel shows the device's table, start-up accepts it and info prints the build lines.
nk_expect_proc_mtd
nk_expect_status info 0
nk_expect_out info <<'OUT'
Build info: $Id: 1.0.1.26,nandkeep,2017/04/18 12:00:00 $

Feature include (+) or not (-):
-_KVL_FW
SOC Platform
-_ORSEN
-_KT724
-_VELDRA3
OUT
nk_expect_err_empty info
# Start-up and info only read the table: the flash is not erased and nothing is logged.
nk_expect_erases 0
nk_expect_no_syslog
