// The bad-block screening scan: erase, program and read back every good block with eight
// patterns, without end, retiring the blocks that do not hold a pattern.
//
// The scan has no end of its own and is stopped from outside (a signal), which discards what
// the C library still buffers: the pattern lines and the findings are flushed as they are
// printed, so an operator's log is complete up to the moment of the stop.
#include "frontend/maintenance.h"

#include "flash/compare.h"
#include "flash/device.h"
#include "flash/notify.h"
#include "flash/region.h"
#include "flash/workbuf.h"
#include "flash/progress.h"
#include "frontend/commands.h"
#include "frontend/texts.h"

#include <cstdio>
#include <cstring>

namespace {

// Every bit both ways (0xFF, 0x00), the nibbles (0x0F, 0xF0), alternating bits (0x5A, 0xA5) and
// alternating bit pairs (0x69, 0x96).
constexpr unsigned char PATTERNS[] = {0xFF, 0x00, 0x0F, 0xF0, 0x5A, 0xA5, 0x69, 0x96};

// One pass with the buffer already there (one erase block, with room up to the next whole piece
// for the write's pad).
int PatternPass(int iFd, unsigned char ucPattern, TWorkBuf *ptBuf) {
    Nandkeep_Print(TXT_PATTERN, ucPattern);
    fflush(stdout);
    memset(ptBuf->data(), ucPattern, ptBuf->size());
    TRegion tDevice = Region_Span(iFd, 0, MTD0WalkEnd());
    uint64_t ullBlock = 0;
    EBlock eState = EBlock::GOOD;
    while (Region_NextBlock(&tDevice, &ullBlock, &eState)) {
        Progress_Count("block", ullBlock / MTD0EraseSize() + 1, MTD0WalkEnd() / MTD0EraseSize(),
                       false);
        if (eState != EBlock::GOOD) {
            continue;
        }
        // A block whose erase fails is marked bad by the erase; it is still programmed and
        // read back, which reports it when it cannot hold the pattern.
        if (Nandkeep_EraseMTD(iFd, ullBlock, MTD0EraseSize()) == -1) {
            return -1;
        }
        const int iRet = Nandkeep_CheckImageMatch(iFd, ptBuf->data(), ullBlock, MTD0EraseSize());
        if (iRet == -1) {
            return -1;
        }
        if (iRet == NANDKEEP_BLOCK_RETIRED) {
            Nandkeep_Print(TXT_PATTERN_BAD, ullBlock);
            fflush(stdout);
        }
    }
    return 0;
}

} // namespace

int Nandkeep_BadBlockManagement(int iFd) {
    TWorkBuf tBuf;
    if (!tBuf.assign((MTD0EraseSize() + NANDKEEP_PIECE - 1) / NANDKEEP_PIECE * NANDKEEP_PIECE, 0)) {
        return -1;
    }
    for (unsigned long long ullPass = 1;; ullPass++) {
        for (unsigned char ucPattern : PATTERNS) {
            Progress_Step("pass %llu, pattern 0x%02X", ullPass, ucPattern);
            // A failed pass is cut short; the next pattern starts over from the first block.
            (void)PatternPass(iFd, ucPattern, &tBuf);
        }
    }
}

int Cmd_BadBlockManagement(TCommand *) {
    return Nandkeep_BadBlockManagement(MTD0Fd());
}
