#!/bin/sh
# nandkeep-boot: the device's side of nandkeep's two-copy firmware (see nandkeep(8), BOOT
# SCRIPT). Install it unchanged or adapt the settings below; it needs a POSIX shell (busybox sh
# is enough) and nothing else.
#
#   nandkeep-boot recover   at every boot, before the root file system is mounted: makes the
#                           normal and backup copies agree again, in the direction flashstatus
#                           gives (1: the backups are complete, repair the normal copies first;
#                           anything else: the normal copies are complete, repair the backups)
#   nandkeep-boot booted    once the system is up and running: flashstatus back to 0, so that the
#                           next upgrade starts from a known state
#
# Both exit with the status of what they ran; a status other than 0 is also logged.

# --- settings: how this device keeps its parameter flashstatus and its log -------------------
# Shell command lines, run with eval. This one prints flashstatus (the counterpart of the
# "cfgvault set flashstatus 1" that nandkeep's upgrade runs).
NANDKEEP_FLASHSTATUS_GET=${NANDKEEP_FLASHSTATUS_GET:-"cfgvault get flashstatus"}
# The command that sets flashstatus back to 0 after a good boot.
NANDKEEP_FLASHSTATUS_RESET=${NANDKEEP_FLASHSTATUS_RESET:-"cfgvault set flashstatus 0"}
# The tool itself.
NANDKEEP=${NANDKEEP:-nandkeep}
# Where a failure is reported: the system log if there is one, standard error anyway.
nandkeep_boot_log() {
    echo "nandkeep-boot: $*" >&2
    logger -t nandkeep-boot -p user.err "$*" 2>/dev/null || true
}
# --- end of settings ---------------------------------------------------------------------------

nandkeep_boot_recover() {
    # A flashstatus that cannot be read leaves the direction unknown: the plain form prefers the
    # backups and repairs a backup block by block when it cannot be repaired whole.
    if sStatus=$(eval "$NANDKEEP_FLASHSTATUS_GET"); then
        if [ "$sStatus" = 1 ]; then
            set -- systemRecovery 1
        else
            set -- systemRecovery 3
        fi
    else
        nandkeep_boot_log "cannot read flashstatus ($NANDKEEP_FLASHSTATUS_GET); recovering without it"
        set -- systemRecovery
    fi
    $NANDKEEP "$@"
    iStatus=$?
    [ "$iStatus" -eq 0 ] || nandkeep_boot_log "nandkeep $* ended with status $iStatus"
    return "$iStatus"
}

nandkeep_boot_booted() {
    eval "$NANDKEEP_FLASHSTATUS_RESET"
    iStatus=$?
    [ "$iStatus" -eq 0 ] ||
        nandkeep_boot_log "cannot reset flashstatus ($NANDKEEP_FLASHSTATUS_RESET): status $iStatus"
    return "$iStatus"
}

case ${1:-} in
recover) nandkeep_boot_recover ;;
booted) nandkeep_boot_booted ;;
*)
    echo "usage: nandkeep-boot recover | booted" >&2
    exit 2
    ;;
esac
