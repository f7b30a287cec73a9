// MTD device primitives: every read, write, erase and bad-block decision goes through here.
//
// Callers pass record 0's descriptor and whole-device offsets (the partition-erase commands
// alone hand Nandkeep_EraseMTD another record's descriptor). The block size for stepping and
// erasing is always record 0's erase size. Data moves in NANDKEEP_PIECE units. None of the read
// or write operations skips bad blocks; only Nandkeep_EraseMTD does.
#ifndef NANDKEEP_MTDIO_H
#define NANDKEEP_MTDIO_H

#include "platform/platform.h"

// Results beyond 0 / -1.
constexpr int NANDKEEP_BAD_BLOCK = 1;       // Nandkeep_IsBadBlock: the block is bad
constexpr int NANDKEEP_BLOCK_RETIRED = 255; // a single block failed and has just been marked bad
constexpr int NANDKEEP_ECC_CORRECTED = 100; // Nandkeep_ReadMTDWithECC: 100 + corrections
constexpr int NANDKEEP_ECC_FAILED = 200;    // Nandkeep_ReadMTDWithECC: uncorrectable read

// Reads ulLen bytes at ulOffset. Every request reaches the device as a whole piece aligned to
// NANDKEEP_PIECE. 0 when all bytes were read; -1 (already notified) on failure.
[[nodiscard]] int Nandkeep_ReadMTD(int iFd, void *pBuf, unsigned long ulOffset,
                                   unsigned long ulLen);
// Reads like Nandkeep_ReadMTD but from the exact offset and watches the ECC counters:
// 0 clean, 100 + n when n corrections happened, 200 when an uncorrectable error was counted,
// -1 on failure.
[[nodiscard]] int Nandkeep_ReadMTDWithECC(int iFd, void *pBuf, unsigned long ulOffset,
                                          unsigned long ulLen);
// Writes ulLen bytes at ulOffset as whole pieces. A short last piece is padded with 0xFF IN THE
// CALLER'S BUFFER, which must therefore reach the next multiple of NANDKEEP_PIECE. A failing
// write marks the block at ulOffset bad. 0 or -1.
[[nodiscard]] int Nandkeep_WriteMTD(int iFd, void *pBuf, unsigned long ulOffset,
                                    unsigned long ulLen);
// The same; on -1, *pbRetired tells that the device refused a program and the block at ulOffset
// has been marked bad (so that a caller may move on to the next good block).
[[nodiscard]] int Nandkeep_WriteMTDRetiring(int iFd, void *pBuf, unsigned long ulOffset,
                                            unsigned long ulLen, bool *pbRetired);
// Erases every good block that begins in [ulOffset, ulOffset + ulLen); bad blocks are skipped,
// a block whose erase fails is marked bad. 0 done; 255 when ulLen is one erase block and that
// block has just been marked bad; -1 when marking failed.
[[nodiscard]] int Nandkeep_EraseMTD(int iFd, unsigned long ulOffset, unsigned long ulLen);
// 1 when the block is bad or the query fails, 0 when it is good. Asks the driver every time.
[[nodiscard]] int Nandkeep_IsBadBlock(int iFd, unsigned long ulOffset);
// The first position from ulPos on, stepping by the erase size, whose block is good; ulEnd or
// beyond when every block before ulEnd is bad.
[[nodiscard]] unsigned long Nandkeep_SkipBadBlocks(int iFd, unsigned long ulPos,
                                                   unsigned long ulEnd);
// Marks the block bad. 0, or -1 after notifying "set bad block fail".
[[nodiscard]] int SetBadBlockToBBT(int iFd, unsigned long ulOffset);
// Replaces one erase block: erase, then write one erase block from pBuf. 0, or the erase
// result (255 / -1), or -1 when the write failed.
[[nodiscard]] int FusionWrite(int iFd, void *pBuf, unsigned long ulOffset);
// Like Nandkeep_EraseMTD, but a block whose erase fails is first overwritten with zero bytes.
[[nodiscard]] int Nandkeep_CleanBoot(int iFd, unsigned long ulOffset, unsigned long ulLen);
// 0 when every 32-bit word covering ulLen bytes is all ones, 1 at the first that is not.
[[nodiscard]] int Nandkeep_CheckErased(const void *pBuf, unsigned long ulLen);

// ECCGETSTATS on the descriptor; notifies "ioctl(ECCGETSTATS)" and returns -1 on failure.
[[nodiscard]] int Nandkeep_GetEccStats(int iFd, TEccStats *ptStats);

#endif
