# Status 255, the notify line and the node that failed; no usage, no command output.
nk_expect_status info 255
nk_expect_out_printf info '\n Nandkeep notify -> open(), please check mtd node device\n/dev/mtd3'
nk_expect_err_empty info
nk_expect_status usage 255
nk_expect_out_printf usage '\n Nandkeep notify -> open(), please check mtd node device\n/dev/mtd3'
nk_expect_err_empty usage
nk_expect_status first 255
nk_expect_out_printf first '\n Nandkeep notify -> open(), please check mtd node device\n/dev/mtd0'
nk_expect_err_empty first
nk_expect_erases 0
nk_expect_no_syslog
