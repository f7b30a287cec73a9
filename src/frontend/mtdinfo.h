// The partition table, the geometry profile and the flash map.
//
// Start-up (Nandkeep_Init) fills these globals once, before the command line is looked at;
// everything else only reads them. Every fixed offset below is a byte offset on partition
// record 0, which covers the whole device; record 0's erase size is the block size everywhere.
#ifndef NANDKEEP_MTDINFO_H
#define NANDKEEP_MTDINFO_H

#include <cstdint>
#include <cstdio>

static_assert(sizeof(unsigned long) == 8, "offsets and sizes are 64-bit unsigned long");

struct TMTDInfo {
    char szName[64];    // name from /proc/mtd without its quotes, cut to 63 characters
    char szDevPath[64]; // "/dev/" + device token without its colon
    unsigned long ulSize;
    unsigned long ulEraseSize;
    int iFd; // open O_RDWR | O_SYNC from start-up until Nandkeep_Deinit
};

extern TMTDInfo *g_ptMTDInfo;
extern int g_iPartitionNum;

// Geometry profile, chosen from record 0's size.
extern int g_iBBTBlockNum;
extern int g_b1BitECC;
extern unsigned long g_ulPhyFlashSize;
extern unsigned long g_ulNFDISize;
extern unsigned long g_ulFlashfs2Size;
extern unsigned long g_ulFlashfs2Offest;

// Record 0 always covers the whole device.
inline int MTD0Fd() {
    return g_ptMTDInfo[0].iFd;
}
inline unsigned long MTD0EraseSize() {
    return g_ptMTDInfo[0].ulEraseSize;
}
inline unsigned long MTD0Size() {
    return g_ptMTDInfo[0].ulSize;
}

// Nothing at or past 4 GiB is ever walked or requested: the erase request carries 32-bit start
// and length fields, and a position there would be cut onto a block near 0.
constexpr unsigned long NANDKEEP_REQUEST_REACH = 0x100000000UL;
// The end of a walk over [ulOffset, ulOffset + ulLen), cut at 4 GiB (also when the sum wraps).
inline unsigned long Nandkeep_WalkEnd(unsigned long ulOffset, unsigned long ulLen) {
    if (ulOffset >= NANDKEEP_REQUEST_REACH || ulLen >= NANDKEEP_REQUEST_REACH - ulOffset) {
        return NANDKEEP_REQUEST_REACH;
    }
    return ulOffset + ulLen;
}
// The end of the walkable device: record 0's size, or 4 GiB for a table that claims more.
inline unsigned long MTD0WalkEnd() {
    return Nandkeep_WalkEnd(0, MTD0Size());
}

// The unit of every flash read, write and comparison, independent of the erase size.
constexpr unsigned long NANDKEEP_PIECE = 0x20000;
// NAND erases to all ones; programming can only clear bits.
constexpr unsigned char NANDKEEP_ERASED_BYTE = 0xFF;
// Profiles: a record 0 not above this size selects the 128 MiB profile.
constexpr unsigned long NANDKEEP_SMALL_PROFILE_MAX = 0x0FFFFFFF;

// The flash map.
constexpr unsigned long BST_OFFSET = 0x0;
constexpr unsigned long BST_SIZE = 0x20000;
constexpr unsigned long BOOT_OFFSET = 0x20000;
constexpr unsigned long BOOT_SIZE = 0x140000;
constexpr unsigned long KERNEL0_OFFSET = 0x300000;
constexpr unsigned long KERNEL1_OFFSET = 0xC00000;
constexpr unsigned long KERNEL_SIZE = 0x900000;
constexpr unsigned long ROOTFS0_OFFSET = 0x1500000;
constexpr unsigned long ROOTFS1_OFFSET = 0x3500000;
constexpr unsigned long ROOTFS_SIZE = 0x2000000;

// Start-up: builds the table, opens every node, installs the SIGPIPE handler and selects the
// profile. Returns only on success; every failure ends the process with status 255.
void Nandkeep_Init(void);
// Closes every descriptor (record 0 first, results ignored) and releases the table.
void Nandkeep_Deinit(void);
void Nandkeep_SigPipeHandler(int iSig);

// One "/proc/mtd" entry as four blank-separated tokens (device, size, erase size, quoted name).
// A token of any length is read whole and cut to its field, so a long name never spills into
// the entries after it; a name with blanks still shifts them.
struct TMtdTokens {
    char szDev[256];
    char szSize[256];
    char szErase[256];
    char szName[256];
};
// The next entry: the number of tokens read (4 for a whole entry), or EOF when the file ends
// before its first token. Shared by start-up and the live-layout check.
int Nandkeep_ReadMtdEntry(FILE *pFile, TMtdTokens *ptTok);

#endif
