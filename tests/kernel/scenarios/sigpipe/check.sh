# The command still ends with its own status and the handler logged the lost connection.
nk_expect_status info 0
nk_expect_err_empty info
iLines=$(nk_syslog_lines | wc -l)
iLost=$(nk_syslog_lines | grep -cx 'user.err nandkeep: Lost connection while upgrading firmware!')
[ "$iLines" -ge 1 ] && [ "$iLost" -eq "$iLines" ] ||
    nk_fail "expected only 'Lost connection while upgrading firmware!' at LOG_ERR, got:$(echo; sed 's/^/        /' syslog.txt)"
