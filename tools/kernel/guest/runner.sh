# The guest's job runner (sourced by init). A job is "case FILE.t" (a case transcript run by
# cram on the kernel backend) or "script FILE" (a shell script, e.g. a benchmark).
# Each leaves in /mnt/host/results NAME.log (what it printed: a failing transcript's diff),
# NAME.verdict (pass, fail, skip or timeout), NAME.time (seconds) and NAME.dmesg; every job
# ends with the chip unloaded, and the next one loads its own (nk_device).

export NK_BACKEND=kernel NK_INPUTS=/mnt/host/inputs TESTDIR=/mnt/host/cases TMPDIR=/tmp

nk_run_job() {
    local sKind=$1 sName=$2 sOut=/mnt/host/results/$2 iStart iStatus sVerdict
    echo "NK-JOB-BEGIN $sKind $sName"
    dmesg -c >/dev/null
    rm -rf /tmp/job && mkdir -p /tmp/job
    iStart=$(date +%s)
    # In the foreground (a background job would ignore SIGINT, which cases send) and in a session
    # of its own: whatever the job leaves running, or a timeout leaves behind, is ended with it,
    # so that the chip can be unloaded.
    if [ "$sKind" = case ]; then
        set -- cram3 "/mnt/host/cases/$sName"
    else
        set -- sh -eu "/mnt/host/scripts/$sName"
    fi
    (cd /tmp/job && exec setsid sh -c 'echo $$ >/tmp/job.pid && exec "$@"' job \
        timeout "$NK_JOB_TIMEOUT" "$@") >"$sOut.log" 2>&1
    iStatus=$?
    kill -KILL -- -"$(cat /tmp/job.pid)" 2>/dev/null
    echo $(($(date +%s) - iStart)) >"$sOut.time"
    case $iStatus in
    0) grep -q '^# Ran 1 tests, 1 skipped' "$sOut.log" && sVerdict=skip || sVerdict=pass ;;
    124 | 143) sVerdict=timeout ;;
    *) sVerdict=fail ;;
    esac
    echo "$sVerdict" >"$sOut.verdict"
    # cram leaves a differing transcript as it ran beside the file.
    [ ! -f "/mnt/host/cases/$sName.err" ] || mv "/mnt/host/cases/$sName.err" /mnt/host/results/
    dmesg -c >"$sOut.dmesg"
    nk-flash down >>"$sOut.log" 2>&1
    echo "NK-JOB-END $sName $sVerdict"
}
