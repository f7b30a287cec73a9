// MTD device primitives: every read, write, erase and bad-block decision goes through here.
//
// Callers pass record 0's descriptor and whole-device offsets (the partition-erase commands and
// the eraseRootfs scan alone use another record's descriptor). The block size for stepping and
// erasing is always record 0's erase size. Data moves in NANDKEEP_PIECE units. None of the read
// or write operations skips bad blocks; only the erase does.
//
// Inside the core the answers of the driver and of a write are named (EBlock, EWrite); the
// Nandkeep_ operations hand out the prescribed integers (1 bad, 100 + n and 200 ECC events, 255
// retired).
#ifndef NANDKEEP_MTDIO_H
#define NANDKEEP_MTDIO_H

#include "platform/platform.h"

#include <cstdint>

// What the driver says of a block. A query it refuses (an offset past the device) is no answer:
// every walk steps over such a block like a bad one.
enum class EBlock { GOOD, BAD, UNKNOWN };
// The outcome of a write: done; refused by the device, its block marked bad (or held bad by the
// driver although the mark request failed); or failed otherwise.
enum class EWrite { WRITTEN, RETIRED, FAILED };

// The prescribed integers of the named operations.
constexpr int NANDKEEP_BAD_BLOCK = 1;       // Nandkeep_IsBadBlock: the block is bad
constexpr int NANDKEEP_BLOCK_RETIRED = 255; // a single block failed and has just been marked bad
constexpr int NANDKEEP_ECC_CORRECTED = 100; // Nandkeep_ReadMTDWithECC: 100 + corrections
constexpr int NANDKEEP_ECC_FAILED = 200;    // Nandkeep_ReadMTDWithECC: uncorrectable read

// Reads ullLen bytes at ullOffset. Every request reaches the device as a whole piece aligned to
// NANDKEEP_PIECE; a piece takes at most two read calls that deliver data (a second one is
// reported, a third fails it). 0 when all bytes were read; -1 (already notified) on failure.
[[nodiscard]] int Nandkeep_ReadMTD(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen);
// Reads like Nandkeep_ReadMTD but from the exact offset, and tells what the ECC counters of the
// node iFd did meanwhile: 0 clean, 100 + n when n corrections happened, 200 when an uncorrectable
// error was counted, -1 (notified) on failure.
[[nodiscard]] int Nandkeep_ReadMTDWithECC(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen);

// Writes ullLen bytes at ullOffset as whole pieces. A short last piece is padded with 0xFF IN THE
// CALLER'S BUFFER, which must therefore reach the next multiple of NANDKEEP_PIECE. A write call
// the device refuses marks the block at ullOffset bad.
[[nodiscard]] EWrite Flash_Write(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen);
// The same: 0 or -1.
[[nodiscard]] int Nandkeep_WriteMTD(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen);

// Erases every good block that begins in [ullOffset, ullOffset + ullLen); bad blocks are
// skipped, a block whose erase fails is marked bad ("find a bad block"). 0 done; 255 when ullLen
// is one erase block and that block has just been marked bad; -1 when marking failed.
[[nodiscard]] int Nandkeep_EraseMTD(int iFd, uint64_t ullOffset, uint64_t ullLen);
// Like Nandkeep_EraseMTD, but a block whose erase fails is first overwritten with zero bytes.
[[nodiscard]] int Nandkeep_CleanBoot(int iFd, uint64_t ullOffset, uint64_t ullLen);

// What the driver says of the block at ullOffset. Asks every time.
[[nodiscard]] EBlock Flash_Block(int iFd, uint64_t ullOffset);
// 1 when the block is bad or the query fails, 0 when it is good.
[[nodiscard]] int Nandkeep_IsBadBlock(int iFd, uint64_t ullOffset);
// Marks the block bad. 0, or -1 after notifying "set bad block fail".
[[nodiscard]] int SetBadBlockToBBT(int iFd, uint64_t ullOffset);
// Replaces one erase block: erase, then write one erase block from pBuf. 0, or the erase
// result (255 / -1), or -1 when the write failed.
[[nodiscard]] int FusionWrite(int iFd, void *pBuf, uint64_t ullOffset);
// 0 when every 32-bit word covering ullLen bytes is all ones, 1 at the first that is not.
[[nodiscard]] int Nandkeep_CheckErased(const void *pBuf, uint64_t ullLen);

// ECCGETSTATS on the descriptor; notifies "ioctl(ECCGETSTATS)" and returns -1 on failure.
[[nodiscard]] int Nandkeep_GetEccStats(int iFd, TEccStats *ptStats);
// The ECC event rule of every comparison: an uncorrectable read, or on the 1-bit-ECC profile any
// correction, between the counters tSnap and tNow.
bool Nandkeep_IsEccEvent(const TEccStats &tSnap, const TEccStats &tNow);

#endif
