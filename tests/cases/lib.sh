# The words the case transcripts use, on either backend. Every transcript sources this first:
#
#   $ . "$TESTDIR/lib.sh"
#
# NK_BACKEND chooses the device: "sim" (default: nandkeep-sim on the simulated chip, state in
# ./flash; NK_SIM_BIN and NK_SIMCTL name the two binaries) or "kernel" (the production nandkeep
# on nandsim in the test guest). $IN holds the prepared input files (tests/cases/inputs.sh).
#
#   nk_device 128|256 [PARAMETER...]
#                                 a fresh device of that geometry with its partition table and
#                                 nandsim's parameters: badblocks=B[,B...] (bad from the
#                                 factory), weakblocks=B[:N] (erases fail after N more, the
#                                 block erased all the same), weakpages=P[:N] (programming page P
#                                 fails after N more programs of it, the page programmed all the
#                                 same), gravepages=P[:N] (reads of page P while it holds data
#                                 deliver random bytes after N more), N 3 when not given;
#                                 overridesize=K (a chip of 2^K blocks, one partition),
#                                 table=NAME:OFFSET:SIZE,... (another partition table, record 0
#                                 the whole chip); B is a block, P a page
#   nandkeep ARGS...              the tool
#   nk_erased                     the chip blocks erased since the last call, in order, runs of
#                                 consecutive blocks as FIRST-LAST
#   nk_bad                        the blocks marked bad
#   nk_ecc                        the whole device's counters: "corrected C failed F"
#   nk_dump OFFSET LENGTH         raw device bytes, bad blocks as they read
#   nk_flip OFFSET N              clears one bit in each of N bytes from OFFSET in the stored
#                                 page (ECC corrects up to its strength; an erase cures it)
#   nk_syslog                     the system-log lines logged since the last call, as
#                                 "facility.priority tag: message"
#   nk_flashstatus                the device parameter flashstatus
#   nk_facts PART OFFSET STRENGTH the MTD nodes' answers to the tool's calls (mtdchar.t)
#   nk_only sim|kernel            skips the rest of the file on the other backend
#   $NK_BOOT_SCRIPT               the boot script the package installs
#   $NK_VERIFY_LOG                the factory tests' verify result log
#   $NK_LOCK                      the file the device lock is taken on
#   $NK_FLASH_NODES               two names of the flash itself (as output destinations)
#   $NK_TRYLOCK                   a command that exits 0 when a fresh open of the device lock
#                                 can take it at once, 1 when it cannot
#   nk_int_blocked COMMAND...     the command run by a parent that hands SIGINT down blocked;
#                                 prints the status that parent reads (minus the signal that
#                                 ended the command)
#
#   nk_sweep read-fail|ecc-fail|log-fail COMMAND...
#                                 the command once for each read call (ECC counter request,
#                                 verify-log message) it makes, each time from the device as
#                                 found with that one failing outright, the outcomes counted as
#                                 "Nx STATUS WORDS" in the order first met (the factory tests'
#                                 progress lines left out, memcmp's figure, which follows the
#                                 random reference, as N; of a log-fail run only the last two
#                                 lines, as what came before is the run's own); the device, its
#                                 erases so far and the log are left as found
#   nk_short read|write N         the next N read calls that deliver data deliver half of it
#                                 (write calls program half their sub-pages, one of one)
#   nk_fail read|ecc|log N        the N-th read call (ECC counter request, verify-log message)
#                                 from now fails outright, once
#   nk_table                      a file the commands read as the partition table (/proc/mtd),
#                                 for the case to edit; the next nk_device restores the real one
#
# Helpers of both: nk_same OFFSET FILE, nk_erased_range OFFSET LENGTH, nk_hex; say COMMAND...
# (the command's status and its words, standard error included, on one line) and each
# "ARGS"... (say nandkeep ARGS for each).

NK_BACKEND=${NK_BACKEND:-sim}
IN=${NK_INPUTS:?NK_INPUTS names the prepared inputs}
export IN

# Runs of consecutive numbers, in the order given: "3 4 5 9" -> "3-5 9".
nk_runs() {
    awk '{ for (i = 1; i <= NF; i++) {
             if (n && $i == last + 1) { last = $i; continue }
             if (n) { printf "%s%s", sep, (first == last ? first : first "-" last); sep = " " }
             first = last = $i; n = 1 } }
         END { if (n) printf "%s%s", sep, (first == last ? first : first "-" last); if (n) print "" }'
}

# "same" when the device holds FILE at OFFSET, else where it first differs.
nk_same() {
    nk_dump "$1" "$(wc -c <"$2")" >nk_same.tmp && cmp -s nk_same.tmp "$2" && echo same || echo differs
}

# "erased" when every byte of the range reads 0xFF, else how many do not.
nk_erased_range() {
    iLeft=$(nk_dump "$1" "$2" | tr -d '\377' | wc -c)
    [ "$iLeft" -eq 0 ] && echo erased || echo "$iLeft bytes programmed"
}

# Bytes as hexadecimal pairs, 16 to a line.
nk_hex() {
    od -An -tx1 -v | sed 's/^ *//'
}

# The runs nk_sweep KIND collected in FILE (each run's output followed by "@@run STATUS"; what
# follows the last such line is a run that was not counted) as "STATUS WORDS" lines: blank lines
# and the factory tests' progress lines left out, of a log-fail run only the last two lines, the
# words one space apart.
nk_sweep_report() {
    awk -v keep="$([ "$1" = log-fail ] && echo 2 || echo 0)" '
        /^@@run / { w = $2; for (i = keep && n > keep ? n - keep + 1 : 1; i <= n; i++) w = w " " l[i]
                    print w; n = 0; next }
        NF && !/^Testing progress/ { $1 = $1; l[++n] = $0 }' "$2"
}

# The tally of nk_sweep: "STATUS WORDS" lines counted as "Nx STATUS WORDS", first met first.
nk_tally_runs() {
    sed 's/memcmp = -\{0,1\}[0-9]*/memcmp = N/' |
        awk '!($0 in n) { o[++k] = $0 } { n[$0]++ } END { for (i = 1; i <= k; i++) print n[o[i]] "x " o[i] }'
}

say() {
    o=$("$@" 2>&1)
    echo $? $o
}

each() {
    for a; do say nandkeep $a; done
}

nk_only() {
    [ "$1" = "$NK_BACKEND" ] || exit 80
}

nk_int_blocked() {
    python3 -c 'import signal, subprocess, sys
signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT])
print(subprocess.run(sys.argv[1:]).returncode)' "$@"
}

. "$TESTDIR/backend-$NK_BACKEND.sh"
