// The image writer: the only path by which a firmware file reaches the flash. It writes one
// 128 KiB chunk at a time through the write-and-verify step of the region walk, so a block that
// does not hold its chunk is retired on the spot and the chunk moves to the next good block. All
// traffic uses record 0's descriptor and whole-device offsets. (The flash-to-flash copy of the
// recovery is Nandkeep_CopyMTD, flash/region.h.)
#ifndef NANDKEEP_WRITER_H
#define NANDKEEP_WRITER_H

#include "image/source.h"

#include <cstdint>

// Writes the file into the region [ulMTDOffset, ulMTDOffset + ulMaxSize), which is both the
// largest file accepted and the range erased (whole blocks: a length that is not a multiple of
// the erase block has its last block erased whole).
//   - The file is checked before the flash is touched: the source's fault (see image/source.h),
//     "size too large" (a file exactly ulMaxSize long is accepted).
//   - Skip-if-same: a region that already holds the file is neither erased nor written (an
//     empty file is always held).
//   - Otherwise the region is erased ("erase sector fail"), written chunk by chunk and the whole
//     file compared again at the end ("Compare image and flash fail" when a comparison fails;
//     silently -1 when the flash then differs, "source changed while it was written" when the
//     file did). A chunk goes only where all of it lies below the region's end: a region whose
//     bad blocks leave no room for a chunk ends with "write fail: Not enought flash space". Bytes
//     written that differ from what was counted end with "source changed while it was written"
//     before the final comparison.
// Standard output is flushed at every progress step. 0 when the region holds the file
// afterwards, -1 otherwise; after a failure past the erase the region is erased or partly
// written.
[[nodiscard]] int Nandkeep_WriteImage(const char *szFileName, uint64_t ulMTDOffset,
                                      uint64_t ulMaxSize, int bHTTP);
// The same for a prepared source (its fault is told first), which stays open.
[[nodiscard]] int Nandkeep_WriteImageSource(TSource *ptSrc, uint64_t ulMTDOffset,
                                            uint64_t ulMaxSize, int bHTTP);

#endif
