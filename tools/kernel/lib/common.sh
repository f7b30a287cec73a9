# Shared settings and helpers of the real-kernel tool's host scripts (sourced by bash).

NK_TIER_DIR=$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")/.." && pwd)
NK_REPO_DIR=$(cd "$NK_TIER_DIR/../.." && pwd)
NK_CACHE_DIR=${NANDKEEP_KERNEL_CACHE:-${HOME:-/root}/.cache/nandkeep-kernel}

NK_T0=${NK_T0:-$(date +%s)}
export NK_T0

nk_log() {
    printf '[kernel +%ss] %s\n' "$(($(date +%s) - NK_T0))" "$*" >&2
}

nk_die() {
    printf '[kernel] FATAL: %s\n' "$*" >&2
    exit 1
}

# Runs a command under a wall-clock limit; a stage that overruns is killed and reported.
nk_timed() {
    local iLimit=$1
    shift
    timeout --kill-after=10 "$iLimit" "$@"
    local iStatus=$?
    if [ "$iStatus" -eq 124 ] || [ "$iStatus" -eq 137 ]; then
        nk_log "timed out after ${iLimit}s: $*"
    fi
    return "$iStatus"
}

# Downloads Debian packages (apt-get download) into a directory made for them.
nk_download() {
    local sDir=$1
    shift
    mkdir -p "$sDir"
    # apt downloads as its unprivileged user when that user may write the directory.
    chown _apt "$sDir" 2>/dev/null || true
    (cd "$sDir" && nk_timed 600 apt-get download -q "$@" >&2)
}

# The geometries the guest can simulate: nandsim's id bytes (2 KiB pages, 128 KiB erase blocks)
# and ECC, and the partition table laid over the chip.
nk_geometry_nandsim() {
    case $1 in
    128) echo "first_id_byte=0x20 second_id_byte=0xf1 third_id_byte=0x00 fourth_id_byte=0x15" ;;
    # The larger profile's device corrects more than one bit per step: software BCH, 4 bits
    # per 512 bytes.
    256) echo "first_id_byte=0x20 second_id_byte=0xda third_id_byte=0x00 fourth_id_byte=0x15 bch=4" ;;
    *) return 1 ;;
    esac
}

nk_geometry_table() {
    echo "$NK_REPO_DIR/sim/tables/mtd$1.txt"
}

# Prints the table's records as "name offset size" lines, comments and blank lines dropped.
nk_table_records() {
    sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$1"
}

# Prints the mtdtable module parameters for a table: record 0 names the whole-device mtd0,
# the others are added as partitions in order.
nk_table_module_params() {
    local sNames="" sOffsets="" sSizes="" sWhole="" sName sOffset sSize
    while read -r sName sOffset sSize; do
        if [ -z "$sWhole" ]; then
            [ $((sOffset)) -eq 0 ] || nk_die "record 0 of $1 does not start at 0"
            sWhole=$sName
            continue
        fi
        sNames="$sNames${sNames:+,}$sName"
        sOffsets="$sOffsets${sOffsets:+,}$sOffset"
        sSizes="$sSizes${sSizes:+,}$sSize"
    done < <(nk_table_records "$1")
    echo "whole=$sWhole names=$sNames offsets=$sOffsets sizes=$sSizes"
}

# The guest's architecture: x86_64 (default), arm64 or armhf, chosen with NK_ARCH or run.sh
# --arch. NK_FLAVOUR is the Debian kernel flavour (linux-image-FLAVOUR), NK_TOOLCHAIN the CMake
# toolchain file of a cross build.
NK_ARCH=${NK_ARCH:-x86_64}
case $NK_ARCH in
x86_64 | amd64)
    NK_ARCH=x86_64 NK_DEB_ARCH=amd64 NK_FLAVOUR=amd64 NK_CROSS= NK_MULTIARCH=x86_64-linux-gnu
    NK_TOOLCHAIN=
    ;;
arm64 | aarch64)
    NK_ARCH=arm64 NK_DEB_ARCH=arm64 NK_FLAVOUR=arm64 NK_CROSS=aarch64-linux-gnu-
    NK_MULTIARCH=aarch64-linux-gnu NK_TOOLCHAIN=$NK_REPO_DIR/cmake/aarch64-linux-gnu.cmake
    ;;
armhf | arm | armv7l)
    NK_ARCH=armhf NK_DEB_ARCH=armhf NK_FLAVOUR=armmp NK_CROSS=arm-linux-gnueabihf-
    NK_MULTIARCH=arm-linux-gnueabihf NK_TOOLCHAIN=$NK_REPO_DIR/cmake/arm-linux-gnueabihf.cmake
    ;;
*) nk_die "unknown architecture $NK_ARCH (x86_64, arm64 or armhf)" ;;
esac
export NK_ARCH
