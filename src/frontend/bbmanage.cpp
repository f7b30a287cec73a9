// The bad-block screening scan: erase, program and read back every good block with eight
// patterns, without end, retiring the blocks that do not hold a pattern.
//
// The scan has no end of its own and is stopped from outside (a signal), which discards what
// the C library still buffers: the pattern lines and the findings are flushed as they are
// printed, so an operator's log is complete up to the moment of the stop.
#include "frontend/maintenance.h"

#include "flash/compare.h"
#include "flash/mtdio.h"
#include "frontend/commands.h"
#include "frontend/mtdinfo.h"

#include <cstdio>
#include "flash/workbuf.h"

namespace {

// Every bit both ways (0xFF, 0x00), the nibbles (0x0F, 0xF0), alternating bits (0x5A, 0xA5) and
// alternating bit pairs (0x69, 0x96).
constexpr unsigned char PATTERNS[] = {0xFF, 0x00, 0x0F, 0xF0, 0x5A, 0xA5, 0x69, 0x96};

} // namespace

int Nandkeep_BadBlockPatternPass(int iFd, unsigned char ucPattern) {
    printf("Pattern is %x\n", ucPattern);
    fflush(stdout);
    const unsigned long ulErase = MTD0EraseSize();
    const unsigned long ulEnd = MTD0WalkEnd();
    // One erase block of the pattern, with room up to the next whole piece for the write's pad.
    const unsigned long ulBufSize =
        (ulErase + NANDKEEP_PIECE - 1) / NANDKEEP_PIECE * NANDKEEP_PIECE;
    TWorkBuf aucPattern(ulBufSize, ucPattern);
    for (unsigned long ulPos = 0; ulPos < ulEnd; ulPos += ulErase) {
        if (Nandkeep_IsBadBlock(iFd, ulPos) == NANDKEEP_BAD_BLOCK) {
            continue;
        }
        // A block whose erase fails is marked bad by the erase; it is still programmed and
        // read back, which reports it when it cannot hold the pattern.
        if (Nandkeep_EraseMTD(iFd, ulPos, ulErase) == -1) {
            return -1;
        }
        int iRet = Nandkeep_CheckImageMatch(iFd, aucPattern.data(), ulPos, ulErase);
        if (iRet == -1) {
            return -1;
        }
        if (iRet == NANDKEEP_BLOCK_RETIRED) {
            printf("Offset 0x%lx Is bad block\n", ulPos);
            fflush(stdout);
        }
    }
    return 0;
}

void Nandkeep_BadBlockManagement(int iFd) {
    for (;;) {
        for (unsigned char ucPattern : PATTERNS) {
            // A failed pass is cut short; the next pattern starts over from the first block.
            (void)Nandkeep_BadBlockPatternPass(iFd, ucPattern);
        }
    }
}

int Cmd_BadBlockManagement(TCommand *ptCmd) {
    (void)ptCmd;
    if (Nandkeep_CheckEraseSize() == -1) {
        return -1;
    }
    Nandkeep_BadBlockManagement(MTD0Fd());
}
