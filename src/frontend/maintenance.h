// Raw flash maintenance: partition and range erases, bad-block listing, raw reads, raw erase
// requests and marking, ECC counters, the live-layout check, and the endless bad-block screening
// scan.
//
// Every operation works by whole-device offset on record 0 and steps by record 0's erase size,
// except the partition erases and the eraseRootfs scan, which work through the descriptor of
// the partition they name with offsets counted from its start.
//
// Safety rules shared by the commands:
// - The records N-3..N-1 (flashfs1 / rootfs scratch, flashfs2, jffs2) exist only when the table
//   has at least three partitions; with fewer the command is refused (status 255).
// - Every command that takes an offset and a length (write, erase, badBlockErase, badBlockRead,
//   eccStatus, lifeCycleTest from 0) refuses a range that ends past 4 GiB or wraps around,
//   before any request; every walk over record 0 stops at 4 GiB, however large the table says
//   the device is (the erase request carries 32-bit fields).
// - erase (and write) refuse an offset off an erase block: the driver would fail the erase and
//   the primitive would retire a good block. Within 4 GiB, blocks past the end of the device are
//   skipped like bad ones, since the driver rejects the query for them.
// - badBlockErase leaves alignment and range to the driver (a refused request: "erase fail");
//   setBadBlockToBBT marks the block that holds its offset, and leaves an offset past the device
//   to the driver.
// - badBlockErase sends the raw erase request and nothing else: no buffer is written through
//   the descriptor first, so the bootstrap at offset 0 is never overwritten.
// - badBlockRead copies whole 128 KiB pieces; a length between pieces is taken up to the next
//   whole piece, so the copy ends where it was asked to instead of running on to the device end.
// - Commands that step by the erase size need one that is a whole number of 128 KiB pieces:
//   every write reaches the device as whole pieces, so a smaller erase block would be programmed
//   across its neighbours. Buffers that hold one block are sized by the erase size.
#ifndef NANDKEEP_MAINTENANCE_H
#define NANDKEEP_MAINTENANCE_H

#include <cstdint>

// Erases [ulOffset, ulOffset + ulLen) through iFd, programs every block start in it with zero
// bytes and reads it back; a block that does not read back as zeros is marked bad. Blocks already
// marked bad are written and compared like the others. 0 done, -1 when a primitive failed.
[[nodiscard]] int Nandkeep_ScanBadBlocks(int iFd, uint64_t ulOffset, uint64_t ulLen);

// Compares the live "/proc/mtd" with the geometry profile: 0 when the flashfs2 partition has the
// profile's size and lies right below an NFDI partition that ends the device, -1 otherwise. A
// list without a whole-device ("Boot"/"linux"), a flashfs2 or an NFDI entry differs (-1). When
// the list cannot be opened: notify "fopen()", print "/proc/mtd", and -1.
[[nodiscard]] int Nandkeep_Flashfs2IsChange(void);

// The eight patterns 0xFF, 0x00, 0x0F, 0xF0, 0x5A, 0xA5, 0x69, 0x96, over and over, each in one
// screening pass: every block not marked bad is erased, programmed with the pattern and read back;
// a block that does not hold it is erased and marked bad ("Offset 0x... Is bad block"), and a pass
// in which a primitive fails is cut short. Returns only when its buffer cannot be had (-1, "malloc
// fail"): the scan ends when the process is stopped from outside.
[[nodiscard]] int Nandkeep_BadBlockManagement(int iFd);

#endif
