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

#include "platform/platform.h"

#include <cstdio>

// The ECC event rule of every comparison: an uncorrectable read, or on the 1-bit-ECC profile any
// correction, between the counters tSnap and tNow.
bool Nandkeep_IsEccEvent(const TEccStats &tSnap, const TEccStats &tNow);

[[nodiscard]] int CompareBufAndMTD(int iFd, const void *pBuf, unsigned long ulMTDOffset,
                                   unsigned long ulLen, int *piSame);
[[nodiscard]] int Nandkeep_CompareImageAndMTD(int iFd, unsigned long ulDestOffset,
                                              unsigned long ulSrcOffset,
                                              unsigned long ulDestMaxSize,
                                              unsigned long ulSrcMaxSize, unsigned long ulLen,
                                              int *piSame);
[[nodiscard]] int Nandkeep_CompareFileAndMTD(FILE *pFile, unsigned long ulMTDOffset,
                                             unsigned long ulMTDMaxSize, int *piSame);
[[nodiscard]] int Nandkeep_CompareVerifyBufAndMTD(int iFd, const void *pBuf,
                                                  unsigned long ulMTDOffset, unsigned long ulLen,
                                                  int *piSame);
// Writes ulLen (at most one erase block) bytes and reads them back. 0 verified; 255 the block
// did not hold them and is now erased and marked bad; -1 on failure.
[[nodiscard]] int Nandkeep_CheckImageMatch(int iFd, void *pBuf, unsigned long ulOffset,
                                           unsigned long ulLen);
// The same; with bRefusedRetires, a block whose program the device refused (the write has marked
// it bad) is also 255, so that the caller moves the data on as for a block that did not verify.
[[nodiscard]] int Nandkeep_CheckImageMatchRetiring(int iFd, void *pBuf, unsigned long ulOffset,
                                                   unsigned long ulLen, bool bRefusedRetires);

#endif
