// Flash comparison: does the flash hold exactly these bytes?
//
// A comparison answers through a caller-owned same-flag (1 the flash holds the bytes, 0 it does
// not); its own result is 0, or -1 for a failure, in which case the flag is left as it was.
// While reading, the driver's ECC counters of the node that reads (the descriptor given) are
// compared with a snapshot taken before the first piece: an uncorrectable read (and, on the
// 1-bit-ECC profile, any correction) marks the block bad through that descriptor and answers 0
// before the bytes are compared. A node's counters see its own reads in every partition layout;
// the whole-device node's see a partition's only when the partitions sit under it.
#ifndef NANDKEEP_COMPARE_H
#define NANDKEEP_COMPARE_H

#include <cstdint>
#include <cstdio>

// A buffer against the flash from ullMTDOffset, piece by piece; with bVerify, as the comparison of
// the flash verify test (below).
[[nodiscard]] int CompareBufAndMTD(int iFd, const void *pBuf, uint64_t ullMTDOffset,
                                   uint64_t ullLen, int *piSame, bool bVerify = false);
// The k-th good piece of the source region against the k-th good piece of the destination. A
// region that runs out of good blocks before ullLen bytes were compared cannot hold them: the
// answer is then 0, and nothing is ever compared against a piece that was not read. With ullLen 0
// or an empty region the flag is left as it was.
[[nodiscard]] int Nandkeep_CompareImageAndMTD(int iFd, uint64_t ullDestOffset,
                                              uint64_t ullSrcOffset, uint64_t ullDestMaxSize,
                                              uint64_t ullSrcMaxSize, uint64_t ullLen, int *piSame);
// The file's bytes from its current position against the good blocks of [ullMTDOffset,
// ullMTDOffset + ullMTDMaxSize) of the whole device. 1 when the file ends, or when ullMTDMaxSize
// bytes compared equal; 0 when bad blocks use the region up while the file still has bytes.
[[nodiscard]] int Nandkeep_CompareFileAndMTD(FILE *pFile, uint64_t ullMTDOffset,
                                             uint64_t ullMTDMaxSize, int *piSame);
// The comparison of the flash verify test: what it finds goes to the verify result log through
// the hook set below. A log that cannot be written fails it (-1).
[[nodiscard]] int Nandkeep_CompareVerifyBufAndMTD(int iFd, const void *pBuf, uint64_t ullMTDOffset,
                                                  uint64_t ullLen, int *piSame);
// The verify result log as the verify comparison writes it: a message with at most one integer
// conversion; 0, or -1 when the log cannot be written.
using TVerifyLogHook = int (*)(const char *pszFormat, int iValue);
void Nandkeep_SetVerifyLog(TVerifyLogHook pfnLog);

// Writes ullLen (at most one erase block) bytes and reads them back. 0 verified; 255 the block
// did not hold them and is now erased and marked bad; -1 on failure. With bRefusedRetires, a
// block whose program the device refused (the write has marked it bad) is also 255, so that the
// caller moves the data on as for a block that did not verify.
[[nodiscard]] int Nandkeep_CheckImageMatch(int iFd, void *pBuf, uint64_t ullOffset, uint64_t ullLen,
                                           bool bRefusedRetires = false);

#endif
