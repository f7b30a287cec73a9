// The image writer and the flash-to-flash copy: the only paths by which firmware reaches the
// flash. Both write one 128 KiB chunk at a time through the write-and-verify primitive, so a
// block that does not hold its chunk is retired on the spot and the chunk moves to the next
// good block; both step over blocks already marked bad by record 0's erase size. All traffic
// uses record 0's descriptor and whole-device offsets.
#ifndef NANDKEEP_WRITER_H
#define NANDKEEP_WRITER_H

#include "image/source.h"

// Writes the file into the region [ulMTDOffset, ulMTDOffset + ulMaxSize), which is both the
// largest file accepted and the range erased (whole blocks: a length that is not a multiple of
// the erase block has its last block erased whole).
//   - The file is checked before the flash is touched: the source's fault (see image/source.h),
//     "size too large" (a file exactly ulMaxSize long is accepted).
//   - Skip-if-same: a region that already holds the file is neither erased nor written (an
//     empty file is always held).
//   - Otherwise the region is erased ("erase sector fail"), written chunk by chunk and the whole
//     file compared again at the end ("Compare image and flash fail" when a comparison fails;
//     silently -1 when the flash then differs). A chunk goes only where all of it lies below the
//     region's end: a region whose bad blocks leave no room for a chunk ends with "write fail:
//     Not enought flash space". Bytes written that differ from what was counted at the opening
//     end with "source changed while it was written" before the final comparison.
// Progress goes to the debug routine (bHTTP picks the compact format) with standard output
// flushed at every step. The file is closed on every path. 0 when the region holds the file
// afterwards, -1 otherwise; after a failure past the erase the region is erased or partly
// written.
[[nodiscard]] int Nandkeep_WriteImage(const char *szFileName, unsigned long ulMTDOffset,
                                      unsigned long ulMaxSize, int bHTTP);
// The same for a prepared source (its fault is told first), which stays open.
[[nodiscard]] int Nandkeep_WriteImageSource(TSource *ptSrc, unsigned long ulMTDOffset,
                                            unsigned long ulMaxSize, int bHTTP);

// Copies ulLen bytes from the good blocks of [ulSrcOffset, ulSrcOffset + ulSrcMaxSize) to the
// good blocks of [ulDestOffset, ulDestOffset + ulDestMaxSize), in order, each chunk only where
// all of it lies below the destination's end. A destination block that does not hold its chunk,
// or whose program the device refuses, is retired and the chunk goes to the next good block. It
// does not erase: the caller erases the destination first. 0 when every byte was copied (ulLen 0
// included); -1 after "Bad block is too much" when either range runs out of room, or when a read
// or the write-and-verify primitive fails (their own messages).
[[nodiscard]] int Nandkeep_CopyMTD(int iFd, unsigned long ulDestOffset, unsigned long ulSrcOffset,
                                   unsigned long ulDestMaxSize, unsigned long ulSrcMaxSize,
                                   unsigned long ulLen);

#endif
