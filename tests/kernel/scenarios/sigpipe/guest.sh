# The reader of standard output is gone before nandkeep writes: SIGPIPE is logged, not fatal.
#@ geometry 128
# The right-hand side closes the pipe at once; nandkeep starts a second later, so its output
# meets a pipe without readers. Its exit status is kept from inside the pipeline.
(
    sleep 1
    iStatus=0
    nandkeep info 2>"$NK_OUT/info.err" || iStatus=$?
    echo "$iStatus" >"$NK_OUT/info.status"
) | exec 0<&-
: >"$NK_OUT/info.out"
