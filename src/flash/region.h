// The region walk: the one way the tool moves over a range of the flash.
//
// A region is [start, end) on one device node. A walk stands at a position in it and steps over
// bad blocks by record 0's erase size (a block whose query the driver refuses counts as bad),
// never past the end: whatever is read or written at the position lies in a good block that
// begins inside the region, and the placing steps take data only where all of it lies below the
// end. Reads are watched on the node that reads. Nothing outside this file steps over bad blocks.
#ifndef NANDKEEP_REGION_H
#define NANDKEEP_REGION_H

#include "flash/mtdio.h"

#include <cstdint>

struct TRegion {
    int iFd;         // the node that reads and writes, and whose ECC counters are watched
    uint64_t ullPos; // where the walk stands
    uint64_t ullEnd; // the region's end
};

inline TRegion Region_Of(int iFd, uint64_t ullStart, uint64_t ullLen) {
    return TRegion{iFd, ullStart, ullStart + ullLen};
}
// [ullStart, ullEnd) itself.
inline TRegion Region_Span(int iFd, uint64_t ullStart, uint64_t ullEnd) {
    return TRegion{iFd, ullStart, ullEnd};
}

// Steps over bad blocks while inside the region: true when the walk stands on a good block
// inside it, false when the region is used up.
[[nodiscard]] bool Region_Good(TRegion *ptReg);
// True when ullLen bytes from the position lie below the region's end.
[[nodiscard]] bool Region_Fits(const TRegion *ptReg, uint64_t ullLen);
// Region_Good, then Region_Fits: the next good block where ullLen bytes fit.
[[nodiscard]] bool Region_GoodFor(TRegion *ptReg, uint64_t ullLen);
inline void Region_Advance(TRegion *ptReg, uint64_t ullLen) {
    ptReg->ullPos += ullLen;
}
// The next block of the region whatever its state, for a walk that looks at every block
// (a scan); false at the end. The walk stands behind it afterwards.
[[nodiscard]] bool Region_NextBlock(TRegion *ptReg, uint64_t *pullBlock, EBlock *peState);
// The good blocks of the region.
[[nodiscard]] uint64_t Region_CountGood(TRegion tReg);

// Reads ullLen bytes (at most one piece) at the position into the whole-piece buffer pucPiece,
// the walk staying where it is. The device is asked for a whole piece (for nothing when ullLen
// is 0): at a piece boundary it goes straight into pucPiece. 0, or -1 (notified).
[[nodiscard]] int Region_ReadPiece(const TRegion *ptReg, unsigned char *pucPiece, uint64_t ullLen);

// The ECC counters of one node, compared with a snapshot taken when the watch began.
struct TEccWatch {
    int iFd;
    TEccStats tSnap;
};
// 0, or -1 after notifying "ioctl(ECCGETSTATS)".
[[nodiscard]] int Watch_Begin(TEccWatch *ptWatch, int iFd);
// The counters now (into *ptNow): 1 when they show an ECC event against the snapshot, 0 when
// not, -1 after notifying.
[[nodiscard]] int Watch_Event(const TEccWatch *ptWatch, TEccStats *ptNow);

// Where a piece went.
enum class EPlace { PLACED, NO_ROOM, FAILED };
// Writes ullLen bytes (at most one block) at the next good block where all of them fit, and
// reads them back. A block that does not hold them has been erased and retired, and the next one
// is tried; so is, with bRefusedRetires, one whose program the device refused. The walk stands at
// the block that holds them. FAILED: a primitive failed (its message printed).
[[nodiscard]] EPlace Region_Place(TRegion *ptReg, unsigned char *pucPiece, uint64_t ullLen,
                                  bool bRefusedRetires);

// Copies ullLen bytes from the good blocks of [ullSrcOffset, + ullSrcMaxSize) to the good blocks
// of [ullDestOffset, + ullDestMaxSize), in order, each chunk only where all of it lies below the
// destination's end; a destination block that does not hold its chunk, or refuses its program,
// is retired and the chunk goes to the next good block. It does not erase: the caller erases
// the destination first. 0 when every byte was copied (ullLen 0 included); -1 after "Bad block is
// too much" when either range runs out of room, or when a read or a write-and-verify fails
// (their own messages).
[[nodiscard]] int Nandkeep_CopyMTD(int iFd, uint64_t ullDestOffset, uint64_t ullSrcOffset,
                                   uint64_t ullDestMaxSize, uint64_t ullSrcMaxSize,
                                   uint64_t ullLen);

#endif
