// The device: the partition table from "/proc/mtd", the geometry profile and the flash map.
//
// Start-up (Nandkeep_Init) fills these globals once, before the command line is looked at;
// everything else only reads them. Every fixed offset below is a byte offset on partition
// record 0, which covers the whole device; record 0's erase size is the block size everywhere.
// Offsets and lengths are 64-bit whatever the word size of the machine.
#ifndef NANDKEEP_DEVICE_H
#define NANDKEEP_DEVICE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct TMTDInfo {
    char szName[64];    // name from /proc/mtd without its quotes, cut to 63 characters
    char szDevPath[64]; // "/dev/" + device token without its colon
    uint64_t ulSize;
    uint64_t ulEraseSize;
    int iFd; // open O_RDWR | O_SYNC from start-up until Nandkeep_Deinit
};

extern TMTDInfo *g_ptMTDInfo;
extern int g_iPartitionNum;

// Geometry profile, chosen from record 0's size.
extern int g_iBBTBlockNum;
extern int g_b1BitECC;
extern uint64_t g_ulPhyFlashSize;
extern uint64_t g_ulNFDISize;
extern uint64_t g_ulFlashfs2Size;
extern uint64_t g_ulFlashfs2Offest;

// Record 0 always covers the whole device.
inline int MTD0Fd() {
    return g_ptMTDInfo[0].iFd;
}
inline uint64_t MTD0EraseSize() {
    return g_ptMTDInfo[0].ulEraseSize;
}
inline uint64_t MTD0Size() {
    return g_ptMTDInfo[0].ulSize;
}

// Nothing at or past 4 GiB is ever walked or requested: the erase request carries 32-bit start
// and length fields, and a position there would be cut onto a block near 0.
constexpr uint64_t NANDKEEP_REQUEST_REACH = 0x100000000ULL;
// The end of a walk over [ullOffset, ullOffset + ullLen), cut at 4 GiB (also when the sum wraps).
inline uint64_t Nandkeep_WalkEnd(uint64_t ullOffset, uint64_t ullLen) {
    if (ullOffset >= NANDKEEP_REQUEST_REACH || ullLen >= NANDKEEP_REQUEST_REACH - ullOffset) {
        return NANDKEEP_REQUEST_REACH;
    }
    return ullOffset + ullLen;
}
// The end of the walkable device: record 0's size, or 4 GiB for a table that claims more.
inline uint64_t MTD0WalkEnd() {
    return Nandkeep_WalkEnd(0, MTD0Size());
}

// The unit of every flash read, write and comparison, independent of the erase size.
constexpr uint64_t NANDKEEP_PIECE = 0x20000;
// At most one piece of the ullLeft bytes still to go, as a length for the C library: a piece fits
// its size type on every target, so nothing is cut short on a 32-bit board.
constexpr size_t Nandkeep_PieceOf(uint64_t ullLeft) {
    return static_cast<size_t>(ullLeft < NANDKEEP_PIECE ? ullLeft : NANDKEEP_PIECE);
}
// NAND erases to all ones; programming can only clear bits.
constexpr unsigned char NANDKEEP_ERASED_BYTE = 0xFF;
// Profiles: a record 0 not above this size selects the 128 MiB profile.
constexpr uint64_t NANDKEEP_SMALL_PROFILE_MAX = 0x0FFFFFFF;

// The flash map.
constexpr uint64_t BST_OFFSET = 0x0;
constexpr uint64_t BST_SIZE = 0x20000;
constexpr uint64_t BOOT_OFFSET = 0x20000;
constexpr uint64_t BOOT_SIZE = 0x140000;
constexpr uint64_t KERNEL0_OFFSET = 0x300000;
constexpr uint64_t KERNEL1_OFFSET = 0xC00000;
constexpr uint64_t KERNEL_SIZE = 0x900000;
constexpr uint64_t ROOTFS0_OFFSET = 0x1500000;
constexpr uint64_t ROOTFS1_OFFSET = 0x3500000;
constexpr uint64_t ROOTFS_SIZE = 0x2000000;

// Start-up: builds the table, opens every node, installs the SIGPIPE handler and selects the
// profile. 0; or -1 after saying why ("fopen()" and "/proc/mtd", "no mtd partition in
// /proc/mtd", "malloc fail", "open(), please check mtd node device" and the node): the process
// then ends with status 255 before the command line is looked at.
[[nodiscard]] int Nandkeep_Init(void);
// Closes every descriptor (record 0 first, results ignored) and releases the table.
void Nandkeep_Deinit(void);
void Nandkeep_SigPipeHandler(int iSig);

// 0 when record 0's erase size is a non-zero multiple of the 128 KiB piece, below 4 GiB (an erase
// request's length has 32 bits), and the device (record 0's size, at most 4 GiB) is a whole number
// of such blocks; otherwise notifies "erase size not supported" and returns -1.
[[nodiscard]] int Nandkeep_CheckEraseSize(void);
// 0 when [ullOffset, ullOffset + ullLen) ends at or below 4 GiB; otherwise notifies "range runs
// past 4 GiB" and returns -1 (also when the sum wraps around).
[[nodiscard]] int Nandkeep_CheckReach(uint64_t ullOffset, uint64_t ullLen);

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
