#!/bin/sh
# Runs case transcripts where cram is not at hand (the real-kernel guest has busybox and no
# Python). It reads the same format and judges it the same way: the commands of a file run in
# one shell, in a fresh directory, standard error merged into standard output; each command's
# output is compared with the indented lines under it, "[N]" stands for a non-zero status,
# " (no-eol)" marks a last line without a newline, and a line holding control characters is
# written escaped with " (esc)" as cram writes it. Lines are compared exactly: the files run here
# use no " (re)" or " (glob)" patterns. A file whose shell exits with 80 is skipped. A file that
# differs leaves FILE.err beside a copy and a unified diff on standard output.
#
# Usage: transcript.sh [-o DIR] FILE.t...   (-o: where .err files go; default beside the file)
# Prints one line per file ("." passed, "s" skipped, "!" failed, as cram does) and a summary;
# exits 1 when a file failed.
set -u
sErrDir=
if [ "${1:-}" = -o ]; then
    sErrDir=$2
    shift 2
fi
iRan=0 iSkipped=0 iFailed=0
sWork=$(mktemp -d "${TMPDIR:-/tmp}/transcript.XXXXXX") || exit 2
trap 'rm -rf "$sWork"' EXIT
sSalt="NKSALT$$"

for sCase in "$@"; do
    iRan=$((iRan + 1))
    sDir=$(cd "$(dirname "$sCase")" && pwd)
    sName=$(basename "$sCase")
    sErr=${sErrDir:-$sDir}/$sName.err
    rm -rf "$sWork/run" && mkdir -p "$sWork/run"
    # The script: before every command, the marker with the previous command's status.
    awk -v salt="$sSalt" '
        /^  \$ / { printf "echo %s %d $?\n%s\n", salt, NR - 1, substr($0, 5); next }
        /^  > / { print substr($0, 5) }
        END { printf "echo %s %d $?\n", salt, NR }' "$sCase" >"$sWork/script"
    (cd "$sWork/run" && TESTDIR=$sDir TESTFILE=$sName LC_ALL=C TZ=GMT \
        sh - <"$sWork/script" >"$sWork/out" 2>&1)
    if [ $? -eq 80 ]; then
        iSkipped=$((iSkipped + 1))
        printf s
        continue
    fi
    # The actual transcript: every line of the file that is not expected output, with the
    # output each command really gave under it.
    awk -v salt="$sSalt" -v out="$sWork/out" '
        function esc(s,   r, i, c) {
            r = ""
            for (i = 1; i <= length(s); i++) {
                c = substr(s, i, 1)
                if (c == "\\") r = r "\\\\"
                else if (c == "\t") r = r "\\t"
                else if (c == "\r") r = r "\\r"
                else if (c in code) r = r sprintf("\\x%02x", code[c])
                else r = r c
            }
            return r " (esc)"
        }
        BEGIN {
            for (i = 1; i < 32; i++) if (i != 10) code[sprintf("%c", i)] = i
            for (i = 127; i < 256; i++) code[sprintf("%c", i)] = i
            # Output lines of each command, keyed by the line number of its marker.
            cmd = -1
            while ((getline line < out) > 0) {
                k = index(line, salt)
                if (k) {
                    o = substr(line, 1, k - 1)
                    if (o != "") got[cmd, ++n[cmd]] = o " (no-eol)"
                    split(substr(line, k + length(salt) + 1), f, " ")
                    if (f[2] != 0) got[cmd, ++n[cmd]] = "[" f[2] "]"
                    cmd = f[1]
                    continue
                }
                for (j = 1; j <= length(line); j++) if (substr(line, j, 1) in code) { line = esc(line); break }
                got[cmd, ++n[cmd]] = line
            }
        }
        function flush(   i) {
            for (i = 1; i <= n[cur]; i++) print "  " got[cur, i]
        }
        /^  \$ / { if (cur != "") flush(); print; cur = NR - 1; next }
        /^  > / { print; next }
        /^  / { next }
        { if (cur != "") flush(); cur = ""; print }
        END { if (cur != "") flush() }' "$sCase" >"$sWork/actual"
    if cmp -s "$sCase" "$sWork/actual"; then
        rm -f "$sErr"
        printf .
    else
        iFailed=$((iFailed + 1))
        cp "$sWork/actual" "$sErr"
        printf '!\n'
        diff -u "$sCase" "$sErr"
    fi
done
printf '\n# Ran %d tests, %d skipped, %d failed.\n' "$iRan" "$iSkipped" "$iFailed"
[ "$iFailed" -eq 0 ]
